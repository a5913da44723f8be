// SPDX-License-Identifier: GPL-3.0-or-later
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
// The files a termination signal removes: the output being written, or the
// several files of a board's Gerber set.
constexpr int kRemoveSlots = 8;
char g_removePaths[kRemoveSlots][PATH_MAX + 1];
volatile sig_atomic_t g_removeSet = 0;  // slots in use
volatile sig_atomic_t g_lineOpen = 0;
volatile sig_atomic_t g_resized = 0;

// The signals that end the program by default and come from outside it (a
// user, the terminal, a pipe's reader, a resource limit, a timer), and
// SIGABRT, which abort() unblocks before it raises it. The real-time
// signals, whose numbers are known only at run time, join them.
constexpr int kOutsideSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2,
    SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGABRT,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The signals the program's own instructions raise: a fault, a forbidden
// system call. They are never blocked (a fault while its signal is blocked
// kills at once, unhandled); their handler removes the file and ends the
// program as the fault would.
constexpr int kFaultSignals[] = {SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP};

sigset_t OutsideSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kOutsideSignals) sigaddset(&set, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
    return set;
}

extern "C" void OnTerminationSignal(int sig) {
    const int savedErrno = errno;
    for (int i = 0; i < g_removeSet && i < kRemoveSlots; ++i) ::unlink(g_removePaths[i]);
    if (g_lineOpen != 0) {
        const ssize_t ignored = ::write(STDERR_FILENO, "\n", 1);
        (void)ignored;
    }
    // Again, now with the default action: it ends the process as soon as
    // this handler returns and the signal is unblocked. A fault's
    // instruction would fault again anyway; raised here, it ends the
    // program before it runs again.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
    errno = savedErrno;
}

extern "C" void OnWindowChange(int) { g_resized = 1; }

// Takes sig unless its action is other than the default.
void Take(int sig, const struct sigaction& action) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0) return;
    if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) return;
    ::sigaction(sig, &action, nullptr);
}

}  // namespace

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    action.sa_mask = OutsideSet();  // one cleanup at a time
    for (int sig : kFaultSignals) sigaddset(&action.sa_mask, sig);
    for (int sig : kOutsideSignals) Take(sig, action);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) Take(sig, action);
    for (int sig : kFaultSignals) Take(sig, action);
    struct sigaction winch {};
    winch.sa_handler = OnWindowChange;
    winch.sa_flags = SA_RESTART;
    sigemptyset(&winch.sa_mask);
    ::sigaction(SIGWINCH, &winch, nullptr);
}

TerminationSignalBlock::TerminationSignalBlock() {
    const sigset_t set = OutsideSet();
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

TerminationSignalBlock::~TerminationSignalBlock() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

bool RemoveOnTermination(const std::string& path) {
    g_removeSet = 0;
    return path.empty() || AlsoRemoveOnTermination(path);
}

bool AlsoRemoveOnTermination(const std::string& path) {
    const int slot = g_removeSet;
    if (path.empty() || path.size() > PATH_MAX || slot >= kRemoveSlots) return false;
    std::memcpy(g_removePaths[slot], path.c_str(), path.size() + 1);
    g_removeSet = slot + 1;
    return true;
}

void SetProgressLineOpen(bool open) { g_lineOpen = open ? 1 : 0; }

bool TakeTerminalResized() {
    if (g_resized == 0) return false;
    g_resized = 0;
    return true;
}

}  // namespace rastrace::cli
