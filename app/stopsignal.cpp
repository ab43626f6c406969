#include "app/stopsignal.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t Signalled = 0;

// Async-signal-safe: one store. SA_RESETHAND has already restored the
// default action, so the next signal of the same kind ends the program.
extern "C" void OnStopSignal(int signal)
{
    if (Signalled == 0)
        Signalled = signal;
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
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int StopSignal()
{
    return Signalled;
}
