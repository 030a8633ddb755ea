/* The floor addtwo is measured against on long inputs: a program that reads
   its standard input to the end, in blocks of the size addtwo reads, and does
   nothing else. */
#include <unistd.h>

int main(void)
{
    static char block[1 << 16];
    while (read(0, block, sizeof block) > 0) {
    }
    return 0;
}
