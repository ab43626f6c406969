/* What every transfer client shares: the clock, and the one line of times it
 * prints for transfer_table.py. Plain C so the C clients and the C++ one
 * report alike.
 */
#ifndef QUENVIA_TRANSFER_TIMING_H
#define QUENVIA_TRANSFER_TIMING_H

#include <stdio.h>
#include <time.h>

static inline double transferNow(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* Prints {"samples": [s, ...]}, one time per repetition in order; the
 * table leaves out the first ones (warm-up) and takes the median. */
static inline void transferReport(const double *seconds, int reps)
{
    printf("{\"samples\": [");
    for (int i = 0; i < reps; i++)
        printf("%s%.9g", i ? ", " : "", seconds[i]);
    printf("]}\n");
    fflush(stdout);
}

/* Command-line cases shared by the clients. */
#define TRANSFER_USAGE                                                                                                \
    "<case> <data bytes> <repetitions>\n"                                                                            \
    "  opc   \"*OPC?\" round trip\n"                                                                                  \
    "  mem   \"CHAN1:DATA?\" block read whole into memory\n"                                                          \
    "  file  the same block as the application reads it: header, then the data spooled to a file\n"                  \
    "  trg   \"*TRG;*OPC?\": an acquisition of <data bytes>/4 points\n"                                               \
    "  trgread  the same, then its first \"CHAN1:DATA?\" block read whole\n"                                      \
    "  silent  \"*OPC?\" never answered, 2000 ms time-out (transfer_ours only)\n"                                    \

#endif
