/* liblxi as a VXI-11 transfer client: the peer our VXI-11 client is held
 * against. Only VXI-11: liblxi's raw-socket reads corrupt large blocks.
 * liblxi finds the core channel through the portmapper on port 111.
 *
 * Usage: transfer_lxi <host> <case> <data bytes> <repetitions>
 * Cases opc and mem (see transfer_timing.h).
 */
#include "transfer_timing.h"

#include <lxi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { TimeoutMs = 30000 };

static int sendText(int dev, const char *text)
{
    return lxi_send(dev, text, (int)strlen(text), TimeoutMs) == (int)strlen(text) ? 0 : -1;
}

static int readLine(int dev)
{
    char line[256];
    const int n = lxi_receive(dev, line, sizeof line, TimeoutMs);
    return n > 0 && line[n - 1] == '\n' ? 0 : -1;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: transfer_lxi <host> " TRANSFER_USAGE);
        return 2;
    }
    const char *what = argv[2];
    const size_t bytes = strtoul(argv[3], NULL, 10);
    const int reps = atoi(argv[4]);
    if (reps < 1)
        return 2;
    lxi_init();
    const int dev = lxi_connect(argv[1], 0, "inst0", 5000, VXI11);
    if (dev < 0) {
        fprintf(stderr, "transfer_lxi: cannot connect to %s\n", argv[1]);
        return 1;
    }
    if (bytes > 0) {
        char setup[128];
        snprintf(setup, sizeof setup, "ACQ:POIN %zu;FORM REAL,32;*TRG;*OPC?\n", bytes / 4);
        if (sendText(dev, setup) || readLine(dev)) {
            fprintf(stderr, "transfer_lxi: set-up failed\n");
            return 1;
        }
    }
    char count[24];
    const int digits = snprintf(count, sizeof count, "%zu", bytes);
    const size_t message = 2 + (size_t)digits + bytes + 1;
    char *buf = malloc(message + 64);
    double *t = malloc(sizeof(double) * (size_t)reps);
    if (!buf || !t)
        return 1;
    for (int i = 0; i < reps; i++) {
        const double t0 = transferNow();
        int rc;
        if (!strcmp(what, "opc"))
            rc = sendText(dev, "*OPC?\n") || readLine(dev);
        else if (!strcmp(what, "mem"))
            rc = sendText(dev, "CHAN1:DATA?\n")
                || lxi_receive(dev, buf, (int)(message + 64), TimeoutMs) != (int)message;
        else {
            fprintf(stderr, "transfer_lxi: no case %s\n", what);
            return 2;
        }
        t[i] = transferNow() - t0;
        if (rc) {
            fprintf(stderr, "transfer_lxi: %s failed at repetition %d\n", what, i);
            return 1;
        }
    }
    transferReport(t, reps);
    lxi_disconnect(dev);
    free(buf);
    free(t);
    return 0;
}
