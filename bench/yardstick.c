/* The yardstick addtwo is measured against: the plain C way to write the
   same dialogue, with printf and scanf("%d"). */
#include <stdio.h>

int main(void)
{
    int num1 = 0;
    int num2 = 0;
    printf("Enter the first number please:");
    scanf("%d", &num1);
    printf("Enter the second number: ");
    scanf("%d", &num2);
    printf("Sum of the two numbers is %d", (int)((unsigned)num1 + (unsigned)num2));
    return 0;
}
