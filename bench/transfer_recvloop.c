/* The plain C client: blocking send and a recv loop straight into one
 * buffer, no library. Against transfer_minserver it is the limit a VISA
 * library can approach on this machine; against benchsim it shows what the
 * simulator itself can deliver.
 *
 * Usage: transfer_recvloop <host> <port> <case> <data bytes> <repetitions>
 * Cases opc, mem, trg and trgread (see transfer_timing.h).
 */
#define _GNU_SOURCE
#include "transfer_timing.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int sendText(int fd, const char *text)
{
    size_t len = strlen(text), done = 0;
    while (done < len) {
        const ssize_t n = send(fd, text + done, len - done, MSG_NOSIGNAL);
        if (n <= 0)
            return -1;
        done += (size_t)n;
    }
    return 0;
}

/* A short reply up to its line feed. */
static int readLine(int fd, char *buf, size_t cap)
{
    size_t got = 0;
    while (got < cap - 1) {
        const ssize_t n = recv(fd, buf + got, cap - 1 - got, 0);
        if (n <= 0)
            return -1;
        got += (size_t)n;
        if (buf[got - 1] == '\n') {
            buf[got] = 0;
            return 0;
        }
    }
    return -1;
}

/* A whole "#<n><count><data>\n" message; the header says how much follows. */
static int readBlock(int fd, unsigned char *buf, size_t cap, size_t expectData)
{
    size_t got = 0, total = 0;
    while (total == 0 || got < total) {
        const ssize_t n = recv(fd, buf + got, cap - got, 0);
        if (n <= 0)
            return -1;
        got += (size_t)n;
        if (total == 0 && got >= 2) {
            const size_t digits = (size_t)(buf[1] - '0');
            if (buf[0] != '#' || digits < 1 || digits > 9)
                return -1;
            if (got >= 2 + digits) {
                size_t count = 0;
                for (size_t i = 0; i < digits; i++)
                    count = count * 10 + (size_t)(buf[2 + i] - '0');
                if (count != expectData || 2 + digits + count + 1 > cap)
                    return -1;
                total = 2 + digits + count + 1;
            }
        }
    }
    return got == total && buf[total - 1] == '\n' ? 0 : -1;
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: transfer_recvloop <host> <port> " TRANSFER_USAGE);
        return 2;
    }
    const char *what = argv[3];
    const size_t bytes = strtoul(argv[4], NULL, 10);
    const int reps = atoi(argv[5]);
    struct sockaddr_in sa = {0};
    sa.sin_family = AF_INET;
    sa.sin_port = htons((unsigned short)atoi(argv[2]));
    if (reps < 1 || inet_pton(AF_INET, argv[1], &sa.sin_addr) != 1) {
        fprintf(stderr, "transfer_recvloop: bad arguments\n");
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    if (fd < 0 || connect(fd, (struct sockaddr *)&sa, sizeof sa) != 0) {
        perror("transfer_recvloop: connect");
        return 1;
    }
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    char line[256];
    if (bytes > 0) {
        snprintf(line, sizeof line, "ACQ:POIN %zu;FORM REAL,32;*TRG;*OPC?\n", bytes / 4);
        if (sendText(fd, line) != 0 || readLine(fd, line, sizeof line) != 0) {
            fprintf(stderr, "transfer_recvloop: set-up failed\n");
            return 1;
        }
    }
    const size_t cap = bytes + 64;
    unsigned char *buf = malloc(cap);
    double *t = malloc(sizeof(double) * (size_t)reps);
    if (!buf || !t)
        return 1;
    for (int i = 0; i < reps; i++) {
        const double t0 = transferNow();
        int rc;
        if (!strcmp(what, "opc"))
            rc = sendText(fd, "*OPC?\n") || readLine(fd, line, sizeof line);
        else if (!strcmp(what, "trg"))
            rc = sendText(fd, "*TRG;*OPC?\n") || readLine(fd, line, sizeof line);
        else if (!strcmp(what, "trgread"))
            rc = sendText(fd, "*TRG;*OPC?\n") || readLine(fd, line, sizeof line) || sendText(fd, "CHAN1:DATA?\n")
                || readBlock(fd, buf, cap, bytes);
        else if (!strcmp(what, "mem"))
            rc = sendText(fd, "CHAN1:DATA?\n") || readBlock(fd, buf, cap, bytes);
        else {
            fprintf(stderr, "transfer_recvloop: no case %s\n", what);
            return 2;
        }
        t[i] = transferNow() - t0;
        if (rc) {
            fprintf(stderr, "transfer_recvloop: %s failed at repetition %d\n", what, i);
            return 1;
        }
    }
    transferReport(t, reps);
    free(buf);
    free(t);
    close(fd);
    return 0;
}
