/*
 * The NTP client of the simulated device in the idle measurement: it reads
 * the wall clock first thing, then writes one line to standard error (the
 * daemon's), naming itself, its arguments and that reading:
 *   ntpclient [-s] [-i] [10] [-h] [pool.example] started 1700000000.123456789
 * so that the time from a SIGUSR1 to the start of the command can be taken.
 */
#include <stdio.h>
#include <time.h>

int main(int argc, char** argv) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    fputs("ntpclient", stderr);
    for (int i = 1; i < argc; ++i) fprintf(stderr, " [%s]", argv[i]);
    fprintf(stderr, " started %lld.%09ld\n", (long long)now.tv_sec, now.tv_nsec);
    return 0;
}
