// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's signal handling. Every signal whose default action
// ends the program and that can be caught (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE, SIGXFSZ, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, ..., the real-time
// signals, and the faults such as SIGSEGV and SIGABRT) removes the
// temporary output file of a conversion, ends an open progress-bar line,
// and then ends the program by the same signal with its default action
// (so the shell sees the usual status 128 + signal, and a core dump is
// made where one would be). SIGWINCH only notes that the terminal was
// resized, for the progress bar.
//
// The handlers use only async-signal-safe calls and data that is ready
// before a signal can arrive: the path is copied into a fixed buffer while
// the signals that can come from outside are blocked.
#pragma once

#include <signal.h>

#include <string>

namespace rastrace::cli {

// Installs the handlers. Only a signal whose action is still the default
// is taken: one the program was started with ignored (nohup, a background
// job) stays ignored, and one a runtime handles already (a sanitizer's
// fault report, a profiler's timer) is left to it.
void InstallSignalHandlers();

// Blocks the termination signals that come from outside (all of those
// handled but the faults that the program's own instructions raise) on
// the calling thread while it lives, so that a file is created and
// registered, or renamed and forgotten, as one step. A signal that
// arrives meanwhile is handled when the block ends.
class TerminationSignalBlock {
public:
    TerminationSignalBlock();
    ~TerminationSignalBlock();
    TerminationSignalBlock(const TerminationSignalBlock&) = delete;
    TerminationSignalBlock& operator=(const TerminationSignalBlock&) = delete;

private:
    sigset_t previous_;
};

// The file a termination signal removes; empty for none. Call it inside a
// TerminationSignalBlock. A path longer than the handler's buffer is not
// kept (false).
bool RemoveOnTermination(const std::string& path);
// One more file a termination signal removes, beside those already named
// (up to eight in all; false beyond that or for a path too long).
bool AlsoRemoveOnTermination(const std::string& path);

// Whether standard error holds an unfinished progress-bar line that a
// termination signal should end with a line break.
void SetProgressLineOpen(bool open);

// True once after each SIGWINCH.
bool TakeTerminalResized();

}  // namespace rastrace::cli
