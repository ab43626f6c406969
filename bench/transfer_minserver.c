/* The smallest raw SCPI socket server that can stand in for an oscilloscope:
 * it answers from memory, so what a client measures against it is the client
 * and the loopback, not the server. One connection at a time, one thread.
 *
 * Understands "*IDN?", "*OPC?" ("1"), "ACQ:POIN n" (the block then holds 4*n
 * bytes, up to -B) and "CHAN1:DATA?" (an IEEE 488.2 definite-length block,
 * 80000 bytes until ACQ:POIN says otherwise); everything else is ignored.
 * Commands are split at ';', queries answer in order joined by ';', and the
 * response ends with a line feed, as on a real instrument.
 *
 * Usage: transfer_minserver [-a ADDR] [-p PORT] [-B MAXBYTES]
 * Prints "transfer_minserver port=<port>" when it listens; stops at the end
 * of stdin or on SIGTERM/SIGINT.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

enum { MaxMessage = 64 * 1024, MaxUnits = 64 };

static unsigned char *block;    /* header + data of the current block */
static size_t blockCap;         /* largest data size -B allows */
static size_t blockLen;         /* header + data */

/* Builds "#<n><count><data>" once per size, so a query only sends. */
static int makeBlock(size_t dataBytes)
{
    char count[24], head[32];
    snprintf(count, sizeof count, "%zu", dataBytes);
    const int headLen = snprintf(head, sizeof head, "#%zu%s", strlen(count), count);
    memcpy(block, head, (size_t)headLen);
    for (size_t i = 0; i < dataBytes; i++)
        block[headLen + i] = (unsigned char)(i & 0xff);
    blockLen = (size_t)headLen + dataBytes;
    return 0;
}

static int sendAllv(int fd, struct iovec *iov, int n)
{
    while (n > 0) {
        ssize_t sent = writev(fd, iov, n);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        while (n > 0 && (size_t)sent >= iov->iov_len) {
            sent -= (ssize_t)iov->iov_len;
            iov++;
            n--;
        }
        if (n > 0) {
            iov->iov_base = (char *)iov->iov_base + sent;
            iov->iov_len -= (size_t)sent;
        }
    }
    return 0;
}

static char *trim(char *s)
{
    while (isspace((unsigned char)*s))
        s++;
    size_t n = strlen(s);
    while (n && isspace((unsigned char)s[n - 1]))
        s[--n] = 0;
    return s;
}

/* One program message without its line feed. */
static int execute(int fd, char *msg)
{
    static const char idn[] = "BENCH,MINSERVER,0,1";
    static char sep[] = ";", end[] = "\n", one[] = "1";
    struct iovec iov[2 * MaxUnits + 1];
    int n = 0;
    char *save = NULL;
    for (char *cmd = strtok_r(msg, ";", &save); cmd; cmd = strtok_r(NULL, ";", &save)) {
        cmd = trim(cmd);
        const char *unit = NULL;
        size_t len = 0;
        if (!strcasecmp(cmd, "*OPC?")) {
            unit = one;
            len = 1;
        } else if (!strcasecmp(cmd, "*IDN?")) {
            unit = idn;
            len = sizeof idn - 1;
        } else if (!strcasecmp(cmd, "CHAN1:DATA?")) {
            unit = (const char *)block;
            len = blockLen;
        } else if (!strncasecmp(cmd, "ACQ:POIN ", 9)) {
            const unsigned long points = strtoul(cmd + 9, NULL, 10);
            if (points > 0 && points <= blockCap / 4)
                makeBlock(points * 4);
        }
        if (!unit || n >= 2 * MaxUnits)
            continue;
        if (n > 0) {
            iov[n].iov_base = sep;
            iov[n++].iov_len = 1;
        }
        iov[n].iov_base = (void *)unit;
        iov[n++].iov_len = len;
    }
    if (n == 0)
        return 0;
    iov[n].iov_base = end;
    iov[n++].iov_len = 1;
    return sendAllv(fd, iov, n);
}

/* Serves one connection until it closes; returns 1 when stdin ended. */
static int serve(int fd)
{
    static char in[MaxMessage + 1];
    size_t have = 0;
    for (;;) {
        struct pollfd p[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (p[1].revents) {
            char drop[256];
            if (read(STDIN_FILENO, drop, sizeof drop) <= 0)
                return 1;
        }
        if (!p[0].revents)
            continue;
        const ssize_t got = recv(fd, in + have, MaxMessage - have, 0);
        if (got <= 0)
            return 0;
        have += (size_t)got;
        char *start = in, *nl;
        while ((nl = memchr(start, '\n', have - (size_t)(start - in))) != NULL) {
            *nl = 0;
            if (execute(fd, start) != 0)
                return 0;
            start = nl + 1;
        }
        have -= (size_t)(start - in);
        memmove(in, start, have);
        if (have == MaxMessage)
            have = 0; /* an endless line is dropped, not grown */
    }
}

static void onSignal(int sig)
{
    (void)sig;
    _exit(0);
}

int main(int argc, char **argv)
{
    const char *addr = "127.0.0.1";
    unsigned port = 0;
    blockCap = 40u * 1000 * 1000;
    int opt;
    while ((opt = getopt(argc, argv, "a:p:B:")) != -1) {
        switch (opt) {
        case 'a': addr = optarg; break;
        case 'p': port = (unsigned)strtoul(optarg, NULL, 10); break;
        case 'B': blockCap = strtoul(optarg, NULL, 10); break;
        default:
            fprintf(stderr, "usage: transfer_minserver [-a ADDR] [-p PORT] [-B MAXBYTES]\n");
            return 2;
        }
    }
    if (blockCap < 80000)
        blockCap = 80000;
    block = malloc(blockCap + 32);
    if (!block) {
        perror("malloc");
        return 1;
    }
    makeBlock(80000);
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    signal(SIGPIPE, SIG_IGN);

    struct sockaddr_in sa = {0};
    sa.sin_family = AF_INET;
    sa.sin_port = htons((unsigned short)port);
    if (inet_pton(AF_INET, addr, &sa.sin_addr) != 1) {
        fprintf(stderr, "transfer_minserver: not an IPv4 address: %s\n", addr);
        return 2;
    }
    const int lfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t len = sizeof sa;
    if (lfd < 0 || bind(lfd, (struct sockaddr *)&sa, sizeof sa) != 0 || listen(lfd, 8) != 0
        || getsockname(lfd, (struct sockaddr *)&sa, &len) != 0) {
        perror("transfer_minserver: listen");
        return 1;
    }
    printf("transfer_minserver port=%u\n", ntohs(sa.sin_port));
    fflush(stdout);

    for (;;) {
        struct pollfd p[2] = {{lfd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (p[1].revents) {
            char drop[256];
            if (read(STDIN_FILENO, drop, sizeof drop) <= 0)
                return 0;
        }
        if (!p[0].revents)
            continue;
        const int fd = accept4(lfd, NULL, NULL, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        /* Answers go out at once, as an instrument's would. */
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const int stdinEnded = serve(fd);
        close(fd);
        if (stdinEnded)
            return 0;
    }
}
