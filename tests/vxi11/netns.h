// Port 111 (the portmapper) needs privileges and would clash with anything
// else on the machine, so tests that serve it re-run themselves inside a
// private user and network namespace with only loopback up. Where that is
// not allowed, inNetNamespace() stays false and the tests skip.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

inline bool inNetNamespace() { return qgetenv("QUENVIA_IN_NETNS") == "1"; }

// Call first thing in main(). Returns only when not re-executed (already
// inside, or namespaces unavailable); exits with 1 if the exec fails.
// setup: shell commands run inside before the test, after loopback is up.
inline void reexecInNetNamespace(int argc, char **argv, const char *setup = "true")
{
    if (inNetNamespace() || std::system("unshare -rn sh -c 'ip link set lo up' >/dev/null 2>&1") != 0)
        return;
    char self[PATH_MAX] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return;
    ::setenv("QUENVIA_IN_NETNS", "1", 1);
    static std::string script;
    script = std::string("ip link set lo up && { ") + setup + "; } && exec \"$0\" \"$@\"";
    std::vector<char *> args = {const_cast<char *>("unshare"), const_cast<char *>("-rn"), const_cast<char *>("sh"),
                                const_cast<char *>("-c"), const_cast<char *>(script.c_str()), self};
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execvp("unshare", args.data());
    std::perror("unshare");
    std::exit(1);
}

#define QUENVIA_NETNS_SKIP_MESSAGE "needs an unprivileged user and network namespace (unshare -rn) to serve port 111"
