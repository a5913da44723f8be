// rastrace-cli end to end: the binary is run as a user would run it.
#include "support/BmpBuilder.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using rastrace::test::ReadBytes;
using rastrace::test::WriteBytes;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};


std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

constexpr uint32_t kRed = 255, kBlue = 16711680, kWhite = 16777215;

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = rastrace::test::MakeTempFolder("rastrace-cli-").string();
        // Bottom row: red at columns 0..2, then white; top row: blue, blue, red, red.
        rastrace::test::WriteFile(Path("board.bmp"),
                                  rastrace::test::Bmp24FromPacked({{kBlue, kBlue, kRed, kRed}, {kRed, kRed, kRed, kWhite}}));
        WriteBytes(Path("notes.txt"), "These are notes, not a bitmap.");
    }
    void TearDown() override { std::system(("rm -rf " + Quote(dir_)).c_str()); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    Result Run(const std::vector<std::string>& args) const {
        std::string command = Quote(RASTRACE_CLI_PATH);
        for (const auto& a : args) command += " " + Quote(a);
        command += " >" + Quote(Path("stdout")) + " 2>" + Quote(Path("stderr")) + " </dev/null";
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadBytes(Path("stdout"));
        r.err = ReadBytes(Path("stderr"));
        return r;
    }

    // Names in the folder besides the files the test made itself.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        DIR* d = opendir(dir_.c_str());
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != ".." && n != "board.bmp" && n != "stdout" && n != "stderr" && n != "old.pcb" &&
                n != "notes.txt") {
                names.push_back(n);
            }
        }
        closedir(d);
        return names;
    }

    std::string dir_;
};

}  // namespace

TEST_F(Cli, ConvertsToTheExactPcbText) {
    const Result r = Run({"-c", "255", Path("board.bmp"), Path("out.pcb")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("out.pcb")),
              "PCB FILE 4\r\n"
              "FT\r\n3 2 5 2 2 1 1\r\n"
              "FT\r\n0 0 5 0 2 1 1\r\n"
              "1\r\nENDPCB\r\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(Cli, TakesWidthLayerResolutionAndMirrors) {
    Result r = Run({"--color", "$FF", "-w", "", "-l", "0", "-x", "1000", "-y", "1000", "-m", "h",
                    Path("board.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "PCB FILE 4\r\n"
              "FT\r\n0 1 2 1  0 1\r\n"
              "FT\r\n1 0 3 0  0 1\r\n"
              "1\r\nENDPCB\r\n")
        << "mirrored left to right; an empty width; layer 0";
    r = Run({"-c", "0xFF", "-m", "h", "-m", "v", "-x", "1000", "-y", "1000", Path("board.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "PCB FILE 4\r\nFT\r\n1 1 3 1 2 1 1\r\nFT\r\n0 0 2 0 2 1 1\r\n1\r\nENDPCB\r\n")
        << "mirrors apply in the order given";
}

TEST_F(Cli, AscGroupsColoursInTheOrderGivenAndNumbersFromOne) {
    const Result r = Run({"-c", "16711680", "-c", "255", "-c", "$FF", Path("board.bmp"), Path("out.Asc")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = ReadBytes(Path("out.Asc"));
    EXPECT_EQ(text.substr(0, 58), "!PADS-POWERPCB-V2.1-MILS! DESIGN DATABASE ASCII FILE 1.0\r\n");
    const std::string records =
        "JTPOLY00000001          LINES    0    2   1\r\nOPEN   2   2  1\r\n0      0\r\n3     0\r\n"
        "JTPOLY00000002          LINES    3    2   1\r\nOPEN   2   2  1\r\n0      0\r\n2     0\r\n"
        "JTPOLY00000003          LINES    0    0   1\r\nOPEN   2   2  1\r\n0      0\r\n5     0\r\n"
        "*END*     OF ASCII OUTPUT FILE\r\n";
    ASSERT_GE(text.size(), records.size());
    EXPECT_EQ(text.substr(text.size() - records.size()), records)
        << "blue first, then red once although it was given twice";
    const Result again = Run({"-c", "16711680", "-c", "255", "-f", "asc", Path("board.bmp"), "-"});
    EXPECT_EQ(again.out, text) << "the output does not depend on thread timing";
}

TEST_F(Cli, ListsColoursInOrderOfFirstAppearance) {
    const Result r = Run({"--list-colors", Path("board.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "16711680 2\n255 5\n16777215 1\n");
}

TEST_F(Cli, FailuresLeaveExistingFilesAloneAndNoPartialOutput) {
    WriteBytes(Path("old.pcb"), "keep me");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-c", "255", Path("missing.bmp"), Path("old.pcb")},
         "Cannot open file \"" + Path("missing.bmp") + "\". No such file or directory.\n"},
        {{"-c", "255", "-x", "abc", Path("board.bmp"), Path("old.pcb")}, "'abc' is not a valid integer value.\n"},
        {{"-c", "255", "-y", "", Path("board.bmp"), Path("old.pcb")}, "'' is not a valid integer value.\n"},
        {{"-c", "red", Path("board.bmp"), Path("old.pcb")}, "'red' is not a valid integer value.\n"},
        {{"-c", "255", "-x", "0", Path("board.bmp"), Path("old.pcb")}, "Floating point division by zero.\n"},
        {{"-c", "255", Path("notes.txt"), Path("old.pcb")}, "Bitmap image is not valid.\n"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err, c.message);
        EXPECT_EQ(ReadBytes(Path("old.pcb")), "keep me");
        EXPECT_TRUE(Leftovers().empty()) << "left behind: " << Leftovers().front();
    }
}

TEST_F(Cli, WritesSpecialFilesDirectly) {
    Result r = Run({"-c", "255", Path("board.bmp"), "/dev/null"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = Run({"-c", "255", Path("board.bmp"), "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Disk full.\n");
    r = Run({"-c", "255", Path("board.bmp"), Path("no-such-folder/out.pcb")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "File not found.\n");
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {Path("board.bmp"), Path("out.pcb")},                      // no colour
        {"-c", "255", Path("board.bmp")},                          // no output
        {"-c", "255", "-l", "9", Path("board.bmp"), "-"},          // layer out of range
        {"-c", "255", "-f", "dxf", Path("board.bmp"), "-"},        // unknown format
        {"-c", "255", "-m", "x", Path("board.bmp"), "-"},          // unknown mirror
        {"--bogus", Path("board.bmp"), "-"},                       // unknown option
        {"-c"},                                                    // missing value
        {"--list-colors"},                                         // no input
        {"-c", "255", Path("board.bmp"), "-", "extra"},            // too many
    };
    for (const auto& args : cases) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args.back());
        EXPECT_NE(r.err.find("Usage: rastrace-cli"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
    Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--list-colors"), std::string::npos);
    Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "rastrace-cli 2.04\n");
}

namespace {

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

}  // namespace

// The bundled sample converted with fixed settings: any change of the
// output bytes (a faster scanner, another block size, another formatter)
// shows here.
TEST_F(Cli, SampleOutputsStayByteIdentical) {
    const std::string sample = std::string(RASTRACE_SOURCE_DIR) + "/samples/board.bmp";
    struct Golden {
        std::vector<std::string> args;
        size_t size;
        uint64_t hash;
    };
    const std::vector<Golden> cases = {
        {{"-c", "4229316", "-c", "6333654", "-x", "150", "-y", "150", "-w", "8", "-l", "6", "-f", "pcb"},
         242420, 13669079208782378766ull},
        {{"-c", "4229316", "-c", "6333654", "-x", "150", "-y", "150", "-w", "8", "-l", "6", "-f", "asc"},
         709095, 1883666788756802891ull},
        {{"-c", "4229316", "-m", "h", "-m", "v", "-x", "600", "-y", "300", "-f", "asc"}, 654619, 5936492646757655295ull},
    };
    for (const Golden& g : cases) {
        std::vector<std::string> args = g.args;
        args.push_back(sample);
        args.push_back("-");
        const Result r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.size(), g.size);
        EXPECT_EQ(Fnv1a(r.out), g.hash);
    }
}

TEST_F(Cli, ReplacesTheFileALinkNamesAndKeepsTheLink) {
    WriteBytes(Path("target.pcb"), "old");
    ASSERT_EQ(symlink(Path("target.pcb").c_str(), Path("link.pcb").c_str()), 0);
    const Result r = Run({"-c", "255", Path("board.bmp"), Path("link.pcb")});
    ASSERT_EQ(r.status, 0) << r.err;
    char buffer[512];
    const ssize_t n = readlink(Path("link.pcb").c_str(), buffer, sizeof buffer);
    ASSERT_GT(n, 0) << "the link is still a link";
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), Path("target.pcb"));
    EXPECT_EQ(ReadBytes(Path("target.pcb")).substr(0, 12), "PCB FILE 4\r\n");
}
