// Replacing a file whole or not at all: the new bytes go to a temporary
// file beside the target (same folder, so the rename stays on one file
// system), which is renamed over the target only once it is complete. A
// failure before that leaves the target as it was and no temporary file.
// A target that is a symbolic link stays a link: the file it names is the
// one replaced.
#pragma once

#include <string>

namespace rastrace {

class ReplacementFile {
public:
    ReplacementFile() = default;
    // Closes the descriptor and removes the temporary file unless Commit ran.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file for target, open for writing, with mode
    // 0666 before the umask (as any new file the user makes). False, with
    // errno set, when it cannot be made.
    bool Create(const std::string& target);

    int Descriptor() const { return fd_; }
    const std::string& Path() const { return tempPath_; }
    // The file that Commit replaces: target with a link followed.
    const std::string& Target() const { return target_; }

    // Closes the descriptor; false, with errno set, when the close reports
    // an error (on some file systems a failed write only shows here).
    bool CloseDescriptor();

    // Closes the descriptor if still open and renames the temporary file
    // over the target. False, with errno set, on failure.
    bool Commit();

private:
    int fd_ = -1;
    std::string tempPath_;
    std::string target_;
};

}  // namespace rastrace
