// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace rastrace::test {

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    set_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (set_) ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
}

std::filesystem::path MakeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder like " + pattern);
    return pattern;
}

}  // namespace rastrace::test
