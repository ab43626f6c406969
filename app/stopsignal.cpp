#include "app/stopsignal.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>

#include <unistd.h>

namespace {

volatile std::sig_atomic_t Signalled = 0;

// Two buffers: the program writes the one the handler is not pointed at,
// then points it there, so the handler only ever reads a finished note.
constexpr std::size_t NoteBytes = 1024;
char Notes[2][NoteBytes];
std::atomic<const char *> CurrentNote{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free, "the handler reads it");

// Async-signal-safe throughout: a store, write(2), signal(2) and raise(3).
extern "C" void OnStopSignal(int signal)
{
    if (Signalled == 0) {
        Signalled = signal;
        return;
    }
    if (const char *note = CurrentNote.load()) {
        std::size_t length = 0;
        while (length < NoteBytes && note[length] != '\0')
            ++length;
        ssize_t written = ::write(STDERR_FILENO, note, length);
        (void)written;
    }
    // The default action, so the shell sees the program ended by the signal.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void InstallStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls are restarted where the system allows; the session
    // layer retries what comes back with EINTR, so an exchange under way
    // finishes (or times out) as it would have.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int StopSignal()
{
    return Signalled;
}

void SetUnwrittenNote(const QString &text)
{
    const char *current = CurrentNote.load();
    char *next = current == Notes[0] ? Notes[1] : Notes[0];
    const QByteArray bytes = (QStringLiteral("\n") + text + QStringLiteral("\n")).toLocal8Bit();
    const std::size_t n = std::min<std::size_t>(std::size_t(bytes.size()), NoteBytes - 1);
    std::memcpy(next, bytes.constData(), n);
    next[n] = '\0';
    CurrentNote.store(next);
}
