// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar of the command line, drawn on standard error when it is
// a terminal: "[#####     ]  45%", one column narrower than the terminal so
// it never wraps, redrawn at the new width after the terminal is resized.
#pragma once

#include <cstdint>

namespace rastrace::cli {

// Whether a bar belongs on standard error: it is a terminal, and the
// program's own output does not go to that same terminal (a bar drawn
// between the lines of the output would garble them).
bool ProgressBarWanted(bool quiet, bool outputToStdout);

class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}

    // The work to come: maximum steps, position 0.
    void Start(int64_t maximum);
    void Step(int64_t steps);
    // Ends the bar's line with a line break, if one was drawn, so what
    // follows starts on a clean line.
    void End();

private:
    void Draw();

    bool enabled_;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    int columns_ = 0;        // of the terminal; 0 until asked
    int shownPercent_ = -1;
    int shownColumns_ = 0;
    bool lineOpen_ = false;
};

}  // namespace rastrace::cli
