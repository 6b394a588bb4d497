/* Start-up floor: the least a command-line program does to answer `--version`, started as a
 * process and printing one line. */
#include <stdio.h>

int main(void) {
    puts("print-line 1.0");
    return 0;
}
