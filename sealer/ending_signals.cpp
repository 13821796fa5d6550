#include "ending_signals.h"

#include <signal.h>

#include <iterator>

namespace {

constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};
struct sigaction handlersFound[std::size(EndingSignals)];
sigset_t maskBeforeHolding;

}  // namespace

void CatchEndingSignals(void (*handler)(int)) {
    struct sigaction catching {};
    catching.sa_handler = handler;
    sigfillset(&catching.sa_mask);
    for (std::size_t k = 0; k < std::size(EndingSignals); ++k) {
        sigaction(EndingSignals[k], nullptr, &handlersFound[k]);
        if (handlersFound[k].sa_handler != SIG_IGN) sigaction(EndingSignals[k], &catching, nullptr);
    }
}

void HoldEndingSignals() {
    sigset_t ending;
    sigemptyset(&ending);
    for (int number : EndingSignals) sigaddset(&ending, number);
    sigprocmask(SIG_BLOCK, &ending, &maskBeforeHolding);
}

void ReleaseEndingSignals() { sigprocmask(SIG_SETMASK, &maskBeforeHolding, nullptr); }

void PutBackEndingSignals() {
    for (std::size_t k = 0; k < std::size(EndingSignals); ++k)
        sigaction(EndingSignals[k], &handlersFound[k], nullptr);
}

void PassEndingSignalOn(int number) {
    PutBackEndingSignals();
    raise(number);
}
