#include "cli/Signals.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace rastrace::cli {

namespace {

// Read by the handlers; written only while the termination signals are
// blocked on the writing thread (the only thread that exists then, or the
// main thread before the workers start and after they have been joined).
char g_removePath[PATH_MAX + 1];
volatile sig_atomic_t g_removeSet = 0;
volatile sig_atomic_t g_lineOpen = 0;
volatile sig_atomic_t g_resized = 0;

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kTerminationSignals) sigaddset(&set, sig);
    return set;
}

extern "C" void OnTerminationSignal(int sig) {
    const int savedErrno = errno;
    if (g_removeSet != 0) ::unlink(g_removePath);
    if (g_lineOpen != 0) {
        const ssize_t ignored = ::write(STDERR_FILENO, "\n", 1);
        (void)ignored;
    }
    // Again, now with the default action: it ends the process as soon as
    // this handler returns and the signal is unblocked.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
    errno = savedErrno;
}

extern "C" void OnWindowChange(int) { g_resized = 1; }

}  // namespace

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    action.sa_mask = TerminationSet();  // one cleanup at a time
    for (int sig : kTerminationSignals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
    struct sigaction winch {};
    winch.sa_handler = OnWindowChange;
    winch.sa_flags = SA_RESTART;
    sigemptyset(&winch.sa_mask);
    ::sigaction(SIGWINCH, &winch, nullptr);
}

TerminationSignalBlock::TerminationSignalBlock() {
    const sigset_t set = TerminationSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

TerminationSignalBlock::~TerminationSignalBlock() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

bool RemoveOnTermination(const std::string& path) {
    g_removeSet = 0;
    if (path.empty() || path.size() > PATH_MAX) return path.empty();
    std::memcpy(g_removePath, path.c_str(), path.size() + 1);
    g_removeSet = 1;
    return true;
}

void SetProgressLineOpen(bool open) { g_lineOpen = open ? 1 : 0; }

bool TakeTerminalResized() {
    if (g_resized == 0) return false;
    g_resized = 0;
    return true;
}

}  // namespace rastrace::cli
