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
 * With -H it speaks HiSLIP instead, with the same commands and replies: a
 * session's two connections, Initialize and AsyncInitialize, the client's
 * maximum message size (replies split to fit it, header counted), Data and
 * DataEnd; the asynchronous channel is not read after the opening. The
 * same server either way, so
 * the two transports of one client can be compared.
 *
 * Usage: transfer_minserver [-H] [-a ADDR] [-p PORT] [-B MAXBYTES]
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

static int sendAll(int fd, const void *data, size_t n)
{
    struct iovec v = {(void *)data, n};
    return sendAllv(fd, &v, 1);
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

/* HiSLIP (-H): the synchronous channel's state, and the reply framing. */
static int hislip;
static unsigned long long clientMax = 1 << 20; /* the client's largest message, header counted */
static unsigned hislipReplyId;                 /* MessageID of the DataEnd being answered */

enum { HsHeader = 16, HsInitialize = 0, HsInitializeResponse = 1, HsData = 6, HsDataEnd = 7,
       HsAsyncMaximumMessageSize = 15, HsAsyncMaximumMessageSizeResponse = 16, HsAsyncInitialize = 17,
       HsAsyncInitializeResponse = 18 };

static void hsHeader(unsigned char *h, int type, int control, unsigned param, unsigned long long length)
{
    h[0] = 'H';
    h[1] = 'S';
    h[2] = (unsigned char)type;
    h[3] = (unsigned char)control;
    for (int i = 0; i < 4; i++)
        h[4 + i] = (unsigned char)(param >> (24 - 8 * i));
    for (int i = 0; i < 8; i++)
        h[8 + i] = (unsigned char)(length >> (56 - 8 * i));
}

static unsigned long long hsU64(const unsigned char *p)
{
    unsigned long long v = 0;
    for (int i = 0; i < 8; i++)
        v = v << 8 | p[i];
    return v;
}

/* The reply in iov[0..n) as Data ... DataEnd, each message a header and
 * the slice of the reply it carries, sent from where the reply lies. */
static int sendHislipReply(int fd, const struct iovec *iov, int n)
{
    size_t total = 0;
    for (int i = 0; i < n; i++)
        total += iov[i].iov_len;
    const size_t chunk = clientMax > HsHeader + 1 ? (size_t)(clientMax - HsHeader) : 1;
    int at = 0;
    size_t atOff = 0, done = 0;
    do {
        const size_t len = total - done < chunk ? total - done : chunk;
        unsigned char head[HsHeader];
        hsHeader(head, done + len == total ? HsDataEnd : HsData, 0, hislipReplyId, len);
        struct iovec out[2 * MaxUnits + 2];
        int m = 0;
        out[m].iov_base = head;
        out[m++].iov_len = HsHeader;
        for (size_t want = len; want > 0;) {
            const size_t take = iov[at].iov_len - atOff < want ? iov[at].iov_len - atOff : want;
            out[m].iov_base = (char *)iov[at].iov_base + atOff;
            out[m++].iov_len = take;
            want -= take;
            atOff += take;
            if (atOff == iov[at].iov_len) {
                at++;
                atOff = 0;
            }
        }
        if (sendAllv(fd, out, m) != 0)
            return -1;
        done += len;
    } while (done < total);
    return 0;
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
    return hislip ? sendHislipReply(fd, iov, n) : sendAllv(fd, iov, n);
}

static int recvAll(int fd, unsigned char *buf, size_t n)
{
    for (size_t got = 0; got < n;) {
        const ssize_t r = recv(fd, buf + got, n - got, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return -1;
        got += (size_t)r;
    }
    return 0;
}

/* One HiSLIP message of at most MaxMessage payload bytes into msg; its
 * header into h. */
static int readHislip(int fd, unsigned char *h, char *msg, size_t *len)
{
    if (recvAll(fd, h, HsHeader) != 0 || h[0] != 'H' || h[1] != 'S')
        return -1;
    const unsigned long long length = hsU64(h + 8);
    if (length > MaxMessage)
        return -1;
    *len = (size_t)length;
    return recvAll(fd, (unsigned char *)msg, *len);
}

/* The opening of a session on its first connection; the second is taken
 * from the listener. Returns the asynchronous channel, or -1. */
static int openHislip(int lfd, int fd)
{
    static char payload[MaxMessage + 1];
    unsigned char h[HsHeader], r[HsHeader + 8];
    size_t len;
    if (readHislip(fd, h, payload, &len) != 0 || h[2] != HsInitialize)
        return -1;
    hsHeader(r, HsInitializeResponse, 0, 0x0100u << 16 | 1, 0);
    if (sendAll(fd, r, HsHeader) != 0)
        return -1;
    const int afd = accept4(lfd, NULL, NULL, SOCK_CLOEXEC);
    if (afd < 0)
        return -1;
    const int on = 1;
    setsockopt(afd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (readHislip(afd, h, payload, &len) == 0 && h[2] == HsAsyncInitialize) {
        hsHeader(r, HsAsyncInitializeResponse, 0, 0x5858, 0);
        if (sendAll(afd, r, HsHeader) == 0 && readHislip(afd, h, payload, &len) == 0
            && h[2] == HsAsyncMaximumMessageSize && len == 8) {
            clientMax = hsU64((unsigned char *)payload);
            hsHeader(r, HsAsyncMaximumMessageSizeResponse, 0, 0, 8);
            for (int i = 0; i < 8; i++)
                r[HsHeader + i] = (unsigned char)((unsigned long long)MaxMessage >> (56 - 8 * i));
            if (sendAll(afd, r, sizeof r) == 0)
                return afd;
        }
    }
    close(afd);
    return -1;
}

/* HiSLIP's synchronous channel: Data and DataEnd collect a program
 * message, DataEnd runs it. Received into a buffer as the raw socket's
 * lines are, so a message costs the server one receive here too.
 * Returns 1 when stdin ended. */
static int serveHislip(int fd)
{
    static unsigned char rx[HsHeader + MaxMessage];
    static char in[MaxMessage + 1];
    size_t have = 0, msgLen = 0;
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
        const ssize_t got = recv(fd, rx + have, sizeof rx - have, 0);
        if (got <= 0)
            return 0;
        have += (size_t)got;
        size_t at = 0;
        while (have - at >= HsHeader) {
            const unsigned char *h = rx + at;
            const unsigned long long length = hsU64(h + 8);
            if (h[0] != 'H' || h[1] != 'S' || length > MaxMessage)
                return 0;
            if (have - at < HsHeader + length)
                break;
            if (h[2] == HsData || h[2] == HsDataEnd) {
                if (msgLen + length > MaxMessage)
                    msgLen = 0; /* an endless message is dropped, not grown */
                memcpy(in + msgLen, h + HsHeader, (size_t)length);
                msgLen += (size_t)length;
            }
            if (h[2] == HsDataEnd) {
                hislipReplyId = (unsigned)h[4] << 24 | (unsigned)h[5] << 16 | (unsigned)h[6] << 8 | h[7];
                in[msgLen] = 0;
                char *nl = memchr(in, '\n', msgLen);
                if (nl)
                    *nl = 0;
                msgLen = 0;
                if (execute(fd, in) != 0)
                    return 0;
            }
            at += HsHeader + (size_t)length;
        }
        have -= at;
        memmove(rx, rx + at, have);
    }
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
    while ((opt = getopt(argc, argv, "Ha:p:B:")) != -1) {
        switch (opt) {
        case 'H': hislip = 1; break;
        case 'a': addr = optarg; break;
        case 'p': port = (unsigned)strtoul(optarg, NULL, 10); break;
        case 'B': blockCap = strtoul(optarg, NULL, 10); break;
        default:
            fprintf(stderr, "usage: transfer_minserver [-H] [-a ADDR] [-p PORT] [-B MAXBYTES]\n");
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
        int stdinEnded;
        if (hislip) {
            const int afd = openHislip(lfd, fd);
            stdinEnded = afd < 0 ? 0 : serveHislip(fd);
            if (afd >= 0)
                close(afd);
        } else {
            stdinEnded = serve(fd);
        }
        close(fd);
        if (stdinEnded)
            return 0;
    }
}
