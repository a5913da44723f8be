// The command line's signal handling. SIGINT, SIGTERM and SIGHUP remove the
// temporary output file of a conversion, end an open progress-bar line, and
// then end the program by the same signal with its default action (so the
// shell sees the usual status 128 + signal). SIGWINCH only notes that the
// terminal was resized, for the progress bar.
//
// The handlers use only async-signal-safe calls and data that is ready
// before a signal can arrive: the path is copied into a fixed buffer while
// the termination signals are blocked.
#pragma once

#include <signal.h>

#include <string>

namespace rastrace::cli {

// Installs the handlers. A termination signal the program was started with
// ignored (nohup, a background job) stays ignored.
void InstallSignalHandlers();

// Blocks SIGINT, SIGTERM and SIGHUP on the calling thread while it lives, so
// that a file is created and registered, or renamed and forgotten, as one
// step. A signal that arrives meanwhile is handled when the block ends.
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

// Whether standard error holds an unfinished progress-bar line that a
// termination signal should end with a line break.
void SetProgressLineOpen(bool open);

// True once after each SIGWINCH.
bool TakeTerminalResized();

}  // namespace rastrace::cli
