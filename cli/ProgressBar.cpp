// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ProgressBar.h"

#include "cli/Signals.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace rastrace::cli {

namespace {

constexpr int kDefaultColumns = 80;

int TerminalColumns() {
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return kDefaultColumns;
}

bool SameTerminal(int a, int b) {
    if (::isatty(a) == 0 || ::isatty(b) == 0) return false;
    struct stat sa {}, sb {};
    if (::fstat(a, &sa) != 0 || ::fstat(b, &sb) != 0) return false;
    return sa.st_rdev == sb.st_rdev;
}

}  // namespace

bool ProgressBarWanted(bool quiet, bool outputToStdout) {
    if (quiet || ::isatty(STDERR_FILENO) == 0) return false;
    return !(outputToStdout && SameTerminal(STDOUT_FILENO, STDERR_FILENO));
}

void ProgressBar::Start(int64_t maximum) {
    maximum_ = maximum;
    position_ = 0;
    shownPercent_ = -1;
    Draw();
}

void ProgressBar::Step(int64_t steps) {
    position_ += steps;
    Draw();
}

void ProgressBar::End() {
    if (!lineOpen_) return;
    std::fputs("\n", stderr);
    std::fflush(stderr);
    lineOpen_ = false;
    SetProgressLineOpen(false);
}

void ProgressBar::Draw() {
    if (!enabled_ || maximum_ <= 0) return;
    if (columns_ == 0 || TakeTerminalResized()) columns_ = TerminalColumns();
    const int percent = static_cast<int>(std::clamp<int64_t>(position_, 0, maximum_) * 100 / maximum_);
    if (percent == shownPercent_ && columns_ == shownColumns_) return;
    shownPercent_ = percent;
    shownColumns_ = columns_;

    // "[", the bar, "] ", "100%": the line keeps the terminal's last column
    // free, so it never wraps onto a second line.
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    std::string line = "\r";
    const int barWidth = columns_ - 1 - 7;
    if (barWidth >= 4) {
        const int filled = static_cast<int>(static_cast<int64_t>(percent) * barWidth / 100);
        line += '[';
        line.append(static_cast<size_t>(filled), '#');
        line.append(static_cast<size_t>(barWidth - filled), ' ');
        line += "] ";
    }
    line += number;
    line += "\x1b[K";  // clear what a wider line left behind
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    lineOpen_ = true;
    SetProgressLineOpen(true);
}

}  // namespace rastrace::cli
