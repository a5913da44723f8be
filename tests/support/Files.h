// Whole-file reads and writes for tests.
#pragma once

#include <filesystem>
#include <string>

namespace rastrace::test {

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);

// Replaces the file with bytes.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// Makes a fresh, uniquely named folder prefixXXXXXX in the temporary folder
// ($TMPDIR, else /tmp); throws std::runtime_error when it cannot. The caller
// removes it.
std::filesystem::path MakeTempFolder(const std::string& prefix);

}  // namespace rastrace::test
