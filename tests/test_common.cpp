// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/Error.h"
#include "common/FileHandle.h"
#include "common/IntText.h"
#include "common/MessageText.h"
#include "common/ReplacementFile.h"
#include "common/SystemMemory.h"
#include "job/ItemCounter.h"
#include "job/SimpleOwner.h"
#include "support/BmpBuilder.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace rastrace;

struct IntCase {
    const char* text;
    bool ok;
    int32_t value;
};

class IntegerText : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntegerText, ParsesByTheOneRule) {
    const IntCase& c = GetParam();
    int32_t value = 12345;
    EXPECT_EQ(TryStrToInt(c.text, value), c.ok) << '"' << c.text << '"';
    if (c.ok) {
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    } else {
        EXPECT_EQ(value, 12345) << "a failed parse leaves the value alone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntegerText,
    ::testing::Values(IntCase{"600", true, 600}, IntCase{"  42", true, 42}, IntCase{"+7", true, 7},
                      IntCase{"-7", true, -7}, IntCase{"0", true, 0}, IntCase{"007", true, 7},
                      IntCase{"2147483647", true, 2147483647}, IntCase{"-2147483648", true, INT32_MIN},
                      IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0},
                      IntCase{"99999999999999999999", false, 0}, IntCase{"$FF", true, 255},
                      IntCase{"0xff", true, 255}, IntCase{"0XFF", true, 255}, IntCase{"xFf", true, 255},
                      IntCase{"XFF", true, 255}, IntCase{"$FFFFFFFF", true, -1}, IntCase{"-$FFFFFFFF", true, 1},
                      IntCase{"$80000000", true, INT32_MIN}, IntCase{"-$80000000", true, INT32_MIN},
                      IntCase{"$00000000FF", true, 255}, IntCase{"$100000000", false, 0},
                      IntCase{"-0x10", true, -16}, IntCase{"", false, 0}, IntCase{" ", false, 0},
                      IntCase{"+", false, 0}, IntCase{"-", false, 0}, IntCase{"$", false, 0},
                      IntCase{"0x", false, 0}, IntCase{"-0x", false, 0}, IntCase{"5 ", false, 0},
                      IntCase{"5a", false, 0}, IntCase{"\t5", false, 0}, IntCase{"abc", false, 0},
                      IntCase{"+-5", false, 0}, IntCase{"1.5", false, 0}, IntCase{"$G", false, 0},
                      IntCase{"0x-5", false, 0}, IntCase{"- 5", false, 0}),
    [](const ::testing::TestParamInfo<IntCase>& info) {
        // The text itself, its signs and blanks spelt out: "MinusDollarFF".
        std::string name = *info.param.text == '\0' ? "Empty" : "";
        for (const char* c = info.param.text; *c != '\0'; ++c) {
            switch (*c) {
            case '+': name += "Plus"; break;
            case '-': name += "Minus"; break;
            case '$': name += "Dollar"; break;
            case ' ': name += "Space"; break;
            case '\t': name += "Tab"; break;
            case '.': name += "Dot"; break;
            default: name += *c;
            }
        }
        return name;
    });

TEST(IntegerTextMessages, NameTheUntrimmedText) {
    try {
        StrToInt(" 6a");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "' 6a' is not a valid integer value");
    }
    try {
        StrToInt("");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    EXPECT_EQ(StrToIntDef("abc", 9), 9);
    EXPECT_EQ(StrToIntDef("$5", 9), 5);
}

TEST(DecimalText, SignedPlainDigits) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(16777215), "16777215");
    EXPECT_EQ(IntToStr(-1), "-1");
    EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(IntToStr(INT64_MAX), "9223372036854775807");
    char buffer[32];
    EXPECT_EQ(std::string(buffer, AppendDecimalPadded(buffer, 1, 8)), "00000001");
    EXPECT_EQ(std::string(buffer, AppendDecimalPadded(buffer, 123456789, 8)), "123456789");
    EXPECT_EQ(std::string(buffer, AppendDecimalPadded(buffer, -5, 8)), "-00000005");
}

TEST(ShownText, AppendsAFullStopOnlyAfterBytesAboveIt) {
    EXPECT_EQ(ShownText("Bitmap image is not valid"), "Bitmap image is not valid.");
    EXPECT_EQ(ShownText("'' is not a valid integer value"), "'' is not a valid integer value.");
    EXPECT_EQ(ShownText("Done."), "Done.");
    EXPECT_EQ(ShownText("Wow!"), "Wow!");
    EXPECT_EQ(ShownText("(x)"), "(x)");
    EXPECT_EQ(ShownText("a,"), "a,");
    EXPECT_EQ(ShownText("a-"), "a-");
    EXPECT_EQ(ShownText("'a'"), "'a'");
    EXPECT_EQ(ShownText("a "), "a ");
    EXPECT_EQ(ShownText("a/"), "a/.");
    EXPECT_EQ(ShownText("I/O error 5"), "I/O error 5.");
    EXPECT_EQ(ShownText(""), "");
    EXPECT_EQ(ShownText("转换完成！"), "转换完成！.") << "a multi-byte last character counts as greater";
}

TEST(SystemText, TrailingBlanksControlsAndStopsAreCut) {
    EXPECT_EQ(TrimSystemText("Access is denied.\r\n"), "Access is denied");
    EXPECT_EQ(TrimSystemText("x . . "), "x");
    EXPECT_EQ(TrimSystemText("...."), "");
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
}

// ---------------------------------------------------------------------------
// Replacement files

namespace {

namespace fs = std::filesystem;
using rastrace::test::ReadBytes;
using rastrace::test::TempDir;
using rastrace::test::WriteBytes;

// Replaces target with text; the errno of the failure, or 0.
int Replace(const std::string& target, const std::string& text) {
    ReplacementFile file;
    if (!file.Create(target)) return errno;
    if (const int error = WriteAll(file.Descriptor(), text); error != 0) return error;
    return file.Commit() ? 0 : errno;
}

size_t Entries(const fs::path& dir) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

TEST(ReplacementFile, KeepsTheOldFilesModeAndGroup) {
    TempDir dir;
    const fs::path target = dir.Path() / "out.PCB";
    WriteBytes(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    ASSERT_EQ(Replace(target.string(), "new"), 0);
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not written in place";
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_EQ(Entries(dir.Path()), 1u);
}

TEST(ReplacementFile, ALinkStaysALinkEvenWhenItDangles) {
    TempDir dir;
    fs::create_directory(dir.Path() / "real");
    // A relative link to a relative link to a file that does not exist yet.
    fs::create_symlink("real/second", dir.Path() / "first");
    fs::create_symlink("missing.txt", dir.Path() / "real" / "second");
    ASSERT_EQ(Replace((dir.Path() / "first").string(), "made"), 0);
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "first"));
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "real" / "second"));
    EXPECT_EQ(ReadBytes(dir.Path() / "real" / "missing.txt"), "made");
    EXPECT_EQ(Entries(dir.Path() / "real"), 2u) << "the temporary file was beside the file replaced";

    ASSERT_EQ(Replace((dir.Path() / "first").string(), "again"), 0);
    EXPECT_EQ(ReadBytes(dir.Path() / "real" / "missing.txt"), "again");

    fs::create_symlink("loop", dir.Path() / "loop");
    EXPECT_EQ(Replace((dir.Path() / "loop").string(), "x"), ELOOP);
}

TEST(ReplacementFile, AnyValidNameWorks) {
    TempDir dir;
    for (size_t length : {252u, 255u}) {
        const fs::path target = dir.Path() / std::string(length, 'n');
        EXPECT_EQ(Replace(target.string(), "text"), 0) << length;
        EXPECT_EQ(ReadBytes(target), "text") << length;
        EXPECT_EQ(Replace(target.string(), "more"), 0) << "over an existing file of " << length;
    }
    EXPECT_EQ(Replace((dir.Path() / std::string(256, 'n')).string(), "text"), ENAMETOOLONG);
    EXPECT_EQ(Entries(dir.Path()), 2u);
}

TEST(ReplacementFile, RefusesWhatCannotBeReplaced) {
    TempDir dir;
    EXPECT_EQ(Replace(dir.Path().string(), "x"), EISDIR);
    EXPECT_EQ(Replace("/dev/null", "x"), EINVAL) << "a device is never renamed over";
    EXPECT_EQ(Replace((dir.Path() / "no-folder" / "x").string(), "x"), ENOENT);
    if (::geteuid() != 0) {
        const fs::path locked = dir.Path() / "locked";
        WriteBytes(locked, "keep");
        ::chmod(locked.c_str(), 0444);
        EXPECT_EQ(Replace(locked.string(), "x"), EACCES);
        EXPECT_EQ(ReadBytes(locked), "keep");
    }
    ReplacementFile never;
    EXPECT_FALSE(never.Commit());
    EXPECT_EQ(errno, EBADF);
}

// A file-size limit makes the write fail half-way, as a full disk does.
TEST(ReplacementFile, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const fs::path target = dir.Path() / "out.PCB";
    WriteBytes(target, "old");
    int error = 0;
    {
        const rastrace::test::FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.Set());
        error = Replace(target.string(), std::string(5000, 'x'));
    }
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(ReadBytes(target), "old");
    EXPECT_EQ(Entries(dir.Path()), 1u);
}

TEST(FileHandle, ClosesOnceAndHandsItsDescriptorOver) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    FileHandle reader(fds[0]);
    {
        FileHandle writer(fds[1]);
        FileHandle moved = std::move(writer);
        EXPECT_FALSE(writer.IsOpen());
        EXPECT_EQ(WriteAll(moved.Fd(), "abc"), 0);
    }  // the write end closes here: the reader sees the end
    uint8_t buffer[8];
    EXPECT_EQ(ReadUpTo(reader.Fd(), buffer, sizeof buffer), 3);
    EXPECT_TRUE(reader.Close());
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_TRUE(reader.Close()) << "closing twice does nothing";
}

// ---------------------------------------------------------------------------
// Memory available now

TEST(SystemMemory, ReadsMemAvailableFromMeminfo) {
    EXPECT_EQ(MemAvailableIn("MemTotal:       24683772 kB\nMemFree:        22569760 kB\n"
                             "MemAvailable:   23224984 kB\nBuffers: 1 kB\n"),
              uint64_t{23224984} * 1024);
    EXPECT_EQ(MemAvailableIn("MemTotal: 5 kB\n"), std::nullopt);
    EXPECT_EQ(MemAvailableIn("MemAvailable: lots\n"), std::nullopt);
    EXPECT_EQ(MemAvailableIn(""), std::nullopt);
    EXPECT_EQ(AddressSpaceRoom(1000, 400), 600u);
    EXPECT_EQ(AddressSpaceRoom(400, 1000), 0u);
}

TEST(SystemMemory, IsNeverMoreThanTheSystemHasAvailable) {
    std::ifstream meminfo("/proc/meminfo");
    std::stringstream text;
    text << meminfo.rdbuf();
    const std::optional<uint64_t> available = MemAvailableIn(text.str());
    ASSERT_TRUE(available.has_value());
    // Other programs change it meanwhile: allow them a quarter.
    EXPECT_LE(MemoryAvailableNow(), *available + *available / 4);
    EXPECT_GT(MemoryAvailableNow(), 0u);
}

// The address-space limit counts, and it is the process's own: a child
// sets one and reports what it sees.
TEST(SystemMemory, CountsTheAddressSpaceLimit) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::ifstream statm("/proc/self/statm");
        uint64_t pages = 0;
        statm >> pages;
        const uint64_t used = pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
        const rlimit limit{used + (uint64_t{256} << 20), RLIM_INFINITY};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(2);
        ::_exit(MemoryAvailableNow() <= (uint64_t{256} << 20) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---------------------------------------------------------------------------
// The PADS item counter

TEST(ItemCounter, WrapsPastTheLargestNumberWithoutOverflow) {
    SimpleOwner owner;
    EXPECT_EQ(owner.NextPolyNumbers(INT32_MAX - 1), 1);
    EXPECT_EQ(owner.NextPolyNumbers(1), INT32_MAX);
    EXPECT_EQ(owner.NextPolyNumbers(3), INT32_MIN) << "the next number after 2147483647";
    EXPECT_EQ(owner.PolyCount(), INT32_MIN + 2);
    EXPECT_EQ(WrappingAdd(-1, 1), 0);
}
