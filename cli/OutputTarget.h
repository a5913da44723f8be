// Where the command line writes its output so that a failure never leaves a
// partial file and never touches an existing one: a regular file (or a new
// name) is written as a temporary file beside it and renamed into place at
// the end; "-" and special files (/dev/null, a pipe) are written directly.
#pragma once

#include "common/ReplacementFile.h"

#include <string>

namespace rastrace::cli {

class OutputTarget {
public:
    // Throws Error with the I/O error text when the temporary file cannot be made.
    explicit OutputTarget(const std::string& output);

    // The path to write to now.
    const std::string& WritePath() const { return writePath_; }

    // Moves the finished temporary file to the output name. Throws Error.
    // Without Commit the temporary file is removed.
    void Commit();

private:
    ReplacementFile replacement_;
    std::string writePath_;
    bool temporary_ = false;
};

}  // namespace rastrace::cli
