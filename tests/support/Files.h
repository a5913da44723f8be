// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and writes for tests.
#pragma once

#include <csignal>
#include <filesystem>
#include <string>

#include <sys/resource.h>

namespace rastrace::test {

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);

// Replaces the file with bytes.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// While it exists, files this process writes may not grow past bytes, as on
// a full disk: such writes fail with EFBIG (SIGXFSZ is ignored meanwhile).
// Puts the old limit and signal handling back when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    // False when the limit could not be set.
    bool Set() const { return set_; }

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = SIG_DFL;
    bool set_ = false;
};

// Makes a fresh, uniquely named folder prefixXXXXXX in the temporary folder
// ($TMPDIR, else /tmp); throws std::runtime_error when it cannot. The caller
// removes it.
std::filesystem::path MakeTempFolder(const std::string& prefix);

}  // namespace rastrace::test
