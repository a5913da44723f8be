// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a file whole or not at all: the new bytes go to a temporary
// file beside the target (same folder, so the rename stays on one file
// system), written through the descriptor made here, flushed to disk and
// renamed over the target only once it is complete. A failure before that
// leaves the target as it was and no temporary file. The command line's
// output, the window's output and set.ini are all written this way.
//
// What the replacement keeps: a target that is a symbolic link stays a
// link (the file it names is replaced, or created when the link dangles);
// an existing file's permission bits, and its group where the user may
// set it. The temporary name is short, so any valid target name works.
#pragma once

#include "common/FileHandle.h"

#include <string>

namespace rastrace {

class ReplacementFile {
public:
    ReplacementFile() = default;
    // Closes the descriptor and removes the temporary file unless Commit ran.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file for target, open for writing: mode 0666
    // before the umask for a new file, the old file's mode (and group where
    // allowed) for an existing one. False, with errno set, when it cannot
    // be made, and when the target is a folder (EISDIR), a special file
    // (EINVAL), a file the user may not write (EACCES) or a name longer
    // than the folder allows (ENAMETOOLONG), as writing it would fail.
    bool Create(const std::string& target);

    int Descriptor() const { return file_.Fd(); }
    const std::string& Path() const { return tempPath_; }
    // The file that Commit replaces: target with its links followed.
    const std::string& Target() const { return target_; }

    // Flushes the file to disk, closes it and renames it over the target,
    // then makes the rename durable. False, with errno set, on failure;
    // the temporary file is removed then.
    bool Commit();

    // Closes the descriptor without reporting errors and removes the
    // temporary file; the target stays as it was.
    void Abandon();

private:
    FileHandle file_;
    std::string tempPath_;
    std::string target_;
};

}  // namespace rastrace
