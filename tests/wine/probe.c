/* The smallest Windows program that says it ran: whether this machine's Wine runs
 * programs of one architecture is decided by running this one and reading its line,
 * never by the presence of a loader file (an installed 32-bit loader may not start). */
#include <windows.h>
#include <stdio.h>

int main(void) {
    printf("miyo-probe %d-bit acp=%u\n", (int)(sizeof(void*) * 8), GetACP());
    return 0;
}
