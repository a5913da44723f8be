// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-cli end to end: the binary is run as a user would run it.
#include "support/BmpBuilder.h"
#include "support/Files.h"
#include "support/PictureWriter.h"
#include "raster/PictureReader.h"
#include "trace/ColorCount.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
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

    // Runs the program with standard input from stdinPath and standard
    // output into stdoutPath (read back when it is the default file).
    Result Run(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null",
               const std::string& stdoutPath = "") const {
        std::string command = Quote(RASTRACE_CLI_PATH);
        for (const auto& a : args) command += " " + Quote(a);
        return RunShell(command + " <" + Quote(stdinPath), stdoutPath);
    }

    // Runs a shell command line whose last command is the program.
    Result RunShell(const std::string& commandLine, const std::string& stdoutPath = "") const {
        const std::string out = stdoutPath.empty() ? Path("stdout") : stdoutPath;
        std::remove(Path("stdout").c_str());
        const std::string command = commandLine + " >" + Quote(out) + " 2>" + Quote(Path("stderr"));
        const int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (stdoutPath.empty()) r.out = ReadBytes(Path("stdout"));
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
         "rastrace-cli: " + Path("missing.bmp") + ": Cannot open file \"" + Path("missing.bmp") +
             "\". No such file or directory.\n"},
        {{"-c", "255", "-x", "abc", Path("board.bmp"), Path("old.pcb")},
         "rastrace-cli: -x: 'abc' is not a valid integer value.\n"},
        {{"-c", "255", "-y", "", Path("board.bmp"), Path("old.pcb")},
         "rastrace-cli: -y: '' is not a valid integer value.\n"},
        {{"-c", "red", Path("board.bmp"), Path("old.pcb")}, "rastrace-cli: -c: 'red' is not a valid integer value.\n"},
        {{"-c", "255", "-x", "0", Path("board.bmp"), Path("old.pcb")},
         "rastrace-cli: -x: Floating point division by zero.\n"},
        {{"-c", "255", "-y", "$0", Path("board.bmp"), Path("old.pcb")},
         "rastrace-cli: -y: Floating point division by zero.\n"},
        {{"-c", "255", Path("notes.txt"), Path("old.pcb")},
         "rastrace-cli: " + Path("notes.txt") + ": Bitmap image is not valid.\n"},
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
    EXPECT_EQ(r.err, "rastrace-cli: /dev/full: Disk full.\n");
    r = Run({"-c", "255", "-q", Path("board.bmp"), "-"}, "/dev/null", "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: standard output: Disk full.\n");
    r = Run({"-c", "255", Path("board.bmp"), Path("no-such-folder/out.pcb")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: " + Path("no-such-folder/out.pcb") + ": File not found.\n");
}

TEST_F(Cli, UsageErrorsSayOneLineAndPointToHelp) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, "INPUT and OUTPUT are needed"},
        {{Path("board.bmp"), Path("out.pcb")}, "at least one colour is needed (-c COLOUR)"},
        {{"-c", "255", Path("board.bmp")}, "INPUT and OUTPUT are needed"},
        {{"-c", "255", "-l", "9", Path("board.bmp"), "-"}, "-l: the layer must be a number from 0 to 8, not '9'"},
        {{"-c", "255", "-f", "dxf", Path("board.bmp"), "-"}, "-f: the format must be pcb, asc, gerber or kicad, not 'dxf'"},
        {{"-c", "255", "-m", "x", Path("board.bmp"), "-"}, "-m: the mirror must be h or v, not 'x'"},
        {{"-c", "255", "-t", "443", Path("board.bmp"), "-"}, "-t: the tolerance must be a number from 0 to 442, not '443'"},
        {{"-c", "255", "-t", "-1", Path("board.bmp"), "-"}, "-t: the tolerance must be a number from 0 to 442, not '-1'"},
        {{"-c", "255", "--tolerance=x", Path("board.bmp"), "-"},
         "-t: the tolerance must be a number from 0 to 442, not 'x'"},
        {{"-c", "255", "-s", "-3", Path("board.bmp"), "-"},
         "-s: the speckle size must be a whole number of pixels, 0 or more, not '-3'"},
        {{"-c", "255", "-b", "#12", Path("board.bmp"), "-"},
         "-b: '#12' is not a colour: write #RRGGBB with six hexadecimal digits"},
        {{"--bogus", Path("board.bmp"), "-"}, "unknown option '--bogus'"},
        {{"-Z", Path("board.bmp"), "-"}, "unknown option '-Z'"},
        {{"-c"}, "option '-c' needs a value"},
        {{"--list-colors"}, "--list-colors takes one INPUT"},
        {{"-c", "255", Path("board.bmp"), "-", "extra"}, "too many arguments"},
        {{"-c", "-1", Path("board.bmp"), "-"}, "-c: '-1' is outside 0 to 0xFFFFFF and can never match a pixel"},
        {{"-c", "0xFF4088C4", Path("board.bmp"), "-"},
         "-c: '0xFF4088C4' is outside 0 to 0xFFFFFF and can never match a pixel"},
        {{"-c", "16777216", Path("board.bmp"), "-"},
         "-c: '16777216' is outside 0 to 0xFFFFFF and can never match a pixel"},
        {{"-c", "#FF00", Path("board.bmp"), "-"},
         "-c: '#FF00' is not a colour: write #RRGGBB with six hexadecimal digits"},
        {{"-c", "#GG0000", Path("board.bmp"), "-"},
         "-c: '#GG0000' is not a colour: write #RRGGBB with six hexadecimal digits"},
        {{"--top", "3", Path("board.bmp")}, "--top goes with --list-colors"},
        {{"--list-colors", "--top", "0", Path("board.bmp")}, "--top: '0' is not a number of colours (1 or more)"},
        {{"--list-colors", "--top", "x", Path("board.bmp")}, "--top: 'x' is not a number of colours (1 or more)"},
        {{"--color-at", "3", Path("board.bmp")}, "--color-at: '3' is not a pixel position X,Y"},
        {{"--color-at", "1,-1", Path("board.bmp")}, "--color-at: '1,-1' is not a pixel position X,Y"},
        {{"--color-at", "1,1", "--list-colors", Path("board.bmp")}, "--list-colors and --color-at do not go together"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_EQ(r.err, "rastrace-cli: " + c.message + "\nTry 'rastrace-cli --help' for more information.\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(Leftovers().empty());
    Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: rastrace-cli [OPTION]... INPUT OUTPUT\n", 0), 0u);
    for (const char* option : {"--color=", "--xres=", "--yres=", "--width=", "--layer=", "--format=", "--mirror=",
                               "--list-colors", "--top=", "--color-at=", "--quiet", "--help", "--version",
                               "--tolerance=", "--background=", "--despeckle=", "gerber", "kicad",
                               "Output formats:", "Examples:", "CR LF", "bottom edge"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(help.err, "");
    Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out,
              "rastrace-cli 2.04\n"
              "Copyright (C) 2026 The Rastrace developers.\n"
              "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
              "This is free software: you are free to change and redistribute it.\n"
              "There is NO WARRANTY, to the extent permitted by law.\n");
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

TEST_F(Cli, RefusesAnOutputThatIsTheInputUnderAnyName) {
    const std::string picture = ReadBytes(Path("board.bmp"));
    ASSERT_EQ(link(Path("board.bmp").c_str(), Path("hard.bmp").c_str()), 0);
    ASSERT_EQ(symlink(Path("board.bmp").c_str(), Path("soft.pcb").c_str()), 0);
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0777), 0);
    for (const std::string& output :
         {Path("board.bmp"), dir_ + "/sub/../board.bmp", Path("hard.bmp"), Path("soft.pcb")}) {
        const Result r = Run({"-c", "255", Path("board.bmp"), output});
        EXPECT_EQ(r.status, 2) << output;
        EXPECT_EQ(r.err, "rastrace-cli: OUTPUT '" + output + "' is the same file as INPUT '" + Path("board.bmp") +
                             "'\nTry 'rastrace-cli --help' for more information.\n");
        EXPECT_EQ(ReadBytes(Path("board.bmp")), picture) << output;
    }
    // The same through standard input, and a copy is a different file.
    Result r = Run({"-c", "255", "-", Path("hard.bmp")}, Path("board.bmp"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadBytes(Path("board.bmp")), picture);
    WriteBytes(Path("copy.bmp"), picture);
    r = Run({"-c", "255", "-q", Path("board.bmp"), Path("copy.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("copy.bmp")).substr(0, 12), "PCB FILE 4\r\n");
}

TEST_F(Cli, AWidthWithAControlCharacterIsAUsageError) {
    for (const std::string width : {"2\n3", "2\r", "\t2", "2\x1b", "\x7f"}) {
        const Result r = Run({"-c", "255", "-w", width, Path("board.bmp"), Path("out.pcb")});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "rastrace-cli: -w: the width may not hold a control character (such as a line break or a "
                         "tab)\nTry 'rastrace-cli --help' for more information.\n");
        EXPECT_TRUE(Leftovers().empty());
    }
    const Result r = Run({"-q", "-c", "255", "-w", "2 mil; \"x\"", Path("board.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("FT\r\n0 0 5 0 2 mil; \"x\" 1 1\r\n"), std::string::npos) << "other text is written as given";
}

TEST_F(Cli, SaysWhatItWroteUnlessQuiet) {
    Result r = Run({"-c", "255", "-c", "#0000FF", Path("board.bmp"), Path("out.pcb")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rastrace-cli: 2 tracks of 255, 1 of #0000FF written to " + Path("out.pcb") + "\n");
    r = Run({"-c", "16711680", Path("board.bmp"), "-"});
    EXPECT_EQ(r.err, "rastrace-cli: 1 track of 16711680 written to standard output\n");
    r = Run({"-q", "-c", "255", Path("board.bmp"), Path("out.pcb")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(Cli, WarnsOfAbsentColoursCutFilesAndEmptyPictures) {
    Result r = Run({"-q", "-c", "255", "-c", "0x123456", Path("board.bmp"), Path("out.pcb")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "rastrace-cli: warning: colour 0x123456 (#563412) matches no pixel\n");

    // The top row's last pixel and its padding are cut off: the reader fills it.
    const std::string whole = ReadBytes(Path("board.bmp"));
    WriteBytes(Path("cut.bmp"), whole.substr(0, whole.size() - 6));
    r = Run({"-c", "255", Path("cut.bmp"), Path("out.pcb")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "rastrace-cli: warning: " + Path("cut.bmp") +
                         ": the file ends before its pixel data; the missing pixels were filled in\n"
                         "rastrace-cli: 1 track of 255 written to " + Path("out.pcb") + "\n");
    // Three pixels a row: nine bytes and three of padding.
    const std::vector<uint8_t> bytes = rastrace::test::Bmp24FromPacked({{kRed, kRed, kRed}});
    const std::string narrow(bytes.begin(), bytes.end());
    WriteBytes(Path("nopad.bmp"), narrow.substr(0, narrow.size() - 3));
    r = Run({"-q", "--list-colors", Path("nopad.bmp")});
    EXPECT_EQ(r.err, "") << "a file without the last row's padding is whole";

    WriteBytes(Path("empty.bmp"), "");
    r = Run({"-c", "255", Path("empty.bmp"), Path("out.pcb")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "rastrace-cli: warning: " + Path("empty.bmp") + ": the picture is empty\n"
                     "rastrace-cli: 0 tracks of 255 written to " + Path("out.pcb") + "\n");
    EXPECT_EQ(ReadBytes(Path("out.pcb")), "PCB FILE 4\r\n1\r\nENDPCB\r\n");
}

TEST_F(Cli, NotesAResolutionTheFileStatesOtherwise) {
    const std::string sample = std::string(RASTRACE_SOURCE_DIR) + "/samples/board.bmp";  // 5906 pixels per metre
    Result r = Run({"-c", "4229316", "-c", "6333654", sample, Path("board.asc")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "rastrace-cli: note: the file says 150 dpi; converting at 600 dpi (-x, -y)\n"
              "rastrace-cli: 7692 tracks of 4229316, 446 of 6333654 written to " + Path("board.asc") + "\n");
    r = Run({"-c", "4229316", "-x", "150", "-y", "300", sample, "-"});
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              "rastrace-cli: note: the file says 150 dpi; converting at 150 x 300 dpi (-x, -y)\n");
    r = Run({"-c", "4229316", "-x", "150", "-y", "150", sample, "-"});
    EXPECT_EQ(r.err, "rastrace-cli: 7692 tracks of 4229316 written to standard output\n");
    r = Run({"-c", "255", Path("board.bmp"), "-"});
    EXPECT_EQ(r.err.find("note"), std::string::npos) << "a file that states no resolution";
}

TEST_F(Cli, TakesColoursAsRedGreenBlue) {
    const Result packed = Run({"-q", "-c", "16711680", "-c", "255", Path("board.bmp"), "-"});
    ASSERT_EQ(packed.status, 0) << packed.err;
    for (const auto& spelling : std::vector<std::vector<std::string>>{
             {"-c", "#0000FF", "-c", "#FF0000"}, {"-c", "#0000ff", "-c", "$FF"}, {"--color=#0000Ff", "-c", "0xff"}}) {
        std::vector<std::string> args = spelling;
        for (const std::string& a : {std::string("-q"), Path("board.bmp"), std::string("-")}) args.push_back(a);
        const Result r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, packed.out) << spelling[1];
    }
    const Result twice = Run({"-q", "-c", "#FF0000", "-c", "255", "-c", "0xFF", Path("board.bmp"), "-"});
    const Result once = Run({"-q", "-c", "255", Path("board.bmp"), "-"});
    EXPECT_EQ(twice.out, once.out) << "one colour in three spellings is traced once";
}

TEST_F(Cli, NamesTheColourAtAPixel) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"--color-at", "0,0"}, "16711680 #0000FF\n"},   // row 0 is the top row
        {{"--color-at", "3,1"}, "16777215 #FFFFFF\n"},
        {{"--color-at", "3,0"}, "255 #FF0000\n"},
        {{"--color-at", "3,0", "-m", "h"}, "16711680 #0000FF\n"},  // as the conversion sees the picture
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(Path("board.bmp"));
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[1];
        EXPECT_EQ(r.err, "");
    }
    const std::string sample = std::string(RASTRACE_SOURCE_DIR) + "/samples/board.bmp";
    EXPECT_EQ(Run({"--color-at", "30,30", sample}).out, "4229316 #C48840\n") << "top copper";
    EXPECT_EQ(Run({"--color-at", "147,10", sample}).out, "3036196 #24542E\n") << "substrate";
    const Result outside = Run({"--color-at", "4,0", Path("board.bmp")});
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.err, "rastrace-cli: --color-at: 4,0 lies outside the picture of 4 x 2 pixels.\n");
}

TEST_F(Cli, ListsTheMostCommonColoursWithTop) {
    Result r = Run({"--list-colors", "--top", "2", Path("board.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "255 5 #FF0000\n16711680 2 #0000FF\n");
    r = Run({Path("board.bmp"), "--top=9", "--list-colors"});
    EXPECT_EQ(r.out, "255 5 #FF0000\n16711680 2 #0000FF\n16777215 1 #FFFFFF\n");
    const std::string sample = std::string(RASTRACE_SOURCE_DIR) + "/samples/board.bmp";
    r = Run({"--list-colors", "--top", "2", sample});
    EXPECT_EQ(r.out, "3036196 194887 #24542E\n4229316 32158 #C48840\n");
}

TEST_F(Cli, AutoWidthIsTheRowPitchRoundedUp) {
    for (const auto& [yres, width] : std::vector<std::pair<std::string, std::string>>{
             {"600", "2"}, {"150", "7"}, {"300", "4"}, {"1000", "1"}, {"2400", "1"}, {"-150", "7"}}) {
        const Result r = Run({"-q", "-c", "16711680", "-w", "auto", "-y", yres, Path("board.bmp"), "-"});
        ASSERT_EQ(r.status, 0) << r.err;
        // "FT", then "x1 y1 x2 y2 width layer 1".
        std::istringstream record(r.out.substr(r.out.find("FT\r\n") + 4));
        std::string field;
        for (int i = 0; i < 5; ++i) record >> field;
        EXPECT_EQ(field, width) << yres;
    }
}

TEST_F(Cli, ReadsThePictureFromStandardInputAndTakesOptionsAfterNames) {
    const Result file = Run({"-q", "-c", "255", Path("board.bmp"), "-"});
    const Result redirected = Run({"-", "-", "-c", "255", "-q"}, Path("board.bmp"));
    ASSERT_EQ(redirected.status, 0) << redirected.err;
    EXPECT_EQ(redirected.out, file.out);
    const Result listed = Run({"--list-colors", "-"}, Path("board.bmp"));
    EXPECT_EQ(listed.out, "16711680 2\n255 5\n16777215 1\n");
    const Result bad = Run({"-c", "255", "-", "-"}, Path("notes.txt"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "rastrace-cli: standard input: Bitmap image is not valid.\n");
    const Result ended = Run({"-c", "255", "-q", "--", "-", Path("out.pcb")}, Path("board.bmp"));
    EXPECT_EQ(ended.status, 0) << ended.err;
}

TEST_F(Cli, ReadsThePictureFromAPipe) {
    const Result piped = RunShell("cat " + Quote(Path("board.bmp")) + " | " + Quote(RASTRACE_CLI_PATH) +
                                  " --list-colors -");
    if (piped.err.find("the picture is empty") != std::string::npos) {
        GTEST_SKIP() << "the BMP reader reads a pipe as an empty file";
    }
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, "16711680 2\n255 5\n16777215 1\n");
}

TEST_F(Cli, ReportsAFullDiskForEveryKindOfOutput) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--list-colors", Path("board.bmp")}, {"--help"}, {"--version"}, {"--color-at", "0,0", Path("board.bmp")}}) {
        const Result r = Run(args, "/dev/null", "/dev/full");
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, "rastrace-cli: standard output: Disk full.\n") << args[0];
    }
}

TEST_F(Cli, EveryMessageLineNamesTheProgram) {
    WriteBytes(Path("empty.bmp"), "");
    const std::vector<std::vector<std::string>> runs = {
        {"-c", "1", "-c", "255", Path("board.bmp"), Path("out.pcb")},
        {"-c", "1", Path("empty.bmp"), Path("out.pcb")},
        {"-c", "1", std::string(RASTRACE_SOURCE_DIR) + "/samples/board.bmp", Path("out.pcb")},
        {"-c", "1", "-x", "x", Path("board.bmp"), Path("out.pcb")},
        {"-c", "1", Path("board.bmp")},
        {"-c", "1", Path("notes.txt"), "-"},
    };
    for (const auto& args : runs) {
        const Result r = Run(args);
        ASSERT_FALSE(r.err.empty());
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(line.rfind("rastrace-cli: ", 0) == 0 || line.rfind("Try 'rastrace-cli --help'", 0) == 0)
                << line;
        }
    }
}

// The picture of the fixture, red copper: top row columns 2..3, bottom row
// columns 0..2, one region of five pixels.
TEST_F(Cli, WritesGerberAndKiCadAreasChosenByFormatOrExtension) {
    Result r = Run({"-c", "255", Path("board.bmp"), Path("Out.GBR")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rastrace-cli: 1 shape written to " + Path("Out.GBR") + "\n");
    std::string text = ReadBytes(Path("Out.GBR"));
    EXPECT_NE(text.find("%TF.FileFunction,Copper,L1,Top*%\n"), std::string::npos) << text;
    EXPECT_NE(text.find("%MOMM*%\n"), std::string::npos);
    EXPECT_NE(text.find("G36*\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 5), "M02*\n");

    // -l picks the layer; -w means nothing here and is ignored.
    r = Run({"-c", "255", "-l", "6", "-w", "8", Path("board.bmp"), Path("bottom.gbr")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadBytes(Path("bottom.gbr")).find("%TF.FileFunction,Copper,L6,Bot*%"), std::string::npos);

    r = Run({"-c", "255", "-l", "6", "-x", "100", Path("board.bmp"), Path("Pads.KiCad_Mod")});
    ASSERT_EQ(r.status, 0) << r.err;
    text = ReadBytes(Path("Pads.KiCad_Mod"));
    EXPECT_EQ(text.rfind("(footprint \"Pads\"", 0), 0u) << text;
    EXPECT_NE(text.find("(layer \"B.Cu\") (width 0) (fill solid)"), std::string::npos) << text;
    // 3 pixels at 100 dpi are 0.762 mm wide.
    EXPECT_NE(text.find("(xy 0.762 0)"), std::string::npos) << text;

    // -f wins over the extension either way; the last -f counts.
    r = Run({"-c", "255", "-f", "kicad", Path("board.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("(fp_poly"), std::string::npos);
    r = Run({"-c", "255", "-f", "GERBER", "-f", "pcb", Path("board.bmp"), Path("tracks.gbr")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("tracks.gbr")).rfind("PCB FILE 4\r\n", 0), 0u);
    r = Run({"-c", "255", "-f", "gerber", Path("board.bmp"), Path("area.pcb")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("area.pcb")), ReadBytes(Path("Out.GBR")));
}

TEST_F(Cli, AreaFailuresLeaveNoPartialFileAndTheOldOneIntact) {
    WriteBytes(Path("old.gbr"), "keep me");
    Result r = Run({"-c", "255", Path("board.bmp"), Path("no-such-folder/out.gbr")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: " + Path("no-such-folder/out.gbr") + ": File not found.\n");
    r = Run({"-c", "255", "-y", "0", Path("board.bmp"), Path("old.gbr")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: -y: Floating point division by zero.\n");
    r = Run({"-c", "255", Path("notes.txt"), Path("old.gbr")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadBytes(Path("old.gbr")), "keep me");
    std::vector<std::string> left = Leftovers();
    EXPECT_EQ(left, std::vector<std::string>{"old.gbr"});
    r = Run({"-c", "255", Path("board.bmp"), "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: /dev/full: Disk full.\n");
}

TEST_F(Cli, RefusesAnAreaFileWhoseCoordinatesTheFormatCannotHoldBeforeWritingIt) {
    // A column of 394 red pixels is 10007.6 mm tall at 1 dpi; 393 are 9982.2 mm.
    rastrace::test::WriteFile(Path("tall.bmp"), rastrace::test::Bmp24FromPacked(std::vector<std::vector<uint32_t>>(394, {kRed})));
    rastrace::test::WriteFile(Path("fits.bmp"), rastrace::test::Bmp24FromPacked(std::vector<std::vector<uint32_t>>(393, {kRed})));
    WriteBytes(Path("old.gbr"), "keep me");
    const std::string tall = "rastrace-cli: -y: The picture is 10007.6 mm tall at 1 dpi; a Gerber file holds at most "
                             "9999.999999 mm: use a resolution of 2 dpi or more.\n";
    // Read by rows, read whole for a preview, mirrored, with speckle removal.
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {}, {"--preview", Path("p.png")}, {"-m", "v", "-m", "h"}, {"-s", "2"}}) {
        std::vector<std::string> args = {"-c", "255", "-y", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {Path("tall.bmp"), Path("old.gbr")});
        const Result r = Run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, tall);
        EXPECT_EQ(ReadBytes(Path("old.gbr")), "keep me");
        std::vector<std::string> left = Leftovers();
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"fits.bmp", "old.gbr", "tall.bmp"}))
            << "neither a preview nor a temporary file";
    }
    Result r = Run({"-c", "255", "-y", "-1", "-f", "gerber", Path("tall.bmp"), "-"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "rastrace-cli: -y: The picture is 10007.6 mm tall at -1 dpi; a Gerber file holds at most "
                     "9999.999999 mm: use a resolution of -2 dpi or less.\n");
    // The resolution named and the picture one pixel shorter fit.
    r = Run({"-c", "255", "-y", "2", Path("tall.bmp"), Path("old.gbr")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadBytes(Path("old.gbr")).find("Y5003800000"), std::string::npos);
    r = Run({"-c", "255", "-y", "1", "-f", "gerber", Path("fits.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Y9982200000"), std::string::npos);

    // KiCad holds less, on either axis: the width is -x's.
    r = Run({"-c", "255", "-y", "1", Path("fits.bmp"), Path("old.kicad_mod")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: -y: The picture is 9982.2 mm tall at 1 dpi; a KiCad footprint holds at most "
                     "1518.485686 mm: use a resolution of 7 dpi or more.\n");
    rastrace::test::WriteFile(Path("wide.bmp"), rastrace::test::Bmp24FromPacked({std::vector<uint32_t>(60, kRed)}));
    r = Run({"-c", "255", "-x", "1", "-m", "h", Path("wide.bmp"), Path("old.kicad_mod")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: -x: The picture is 1524 mm wide at 1 dpi; a KiCad footprint holds at most "
                     "1518.485686 mm: use a resolution of 2 dpi or more.\n");
    r = Run({"-c", "255", "-x", "2", Path("wide.bmp"), Path("old.kicad_mod")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadBytes(Path("old.kicad_mod")).find("(xy 762 0)"), std::string::npos);
    // The track formats hold these coordinates.
    r = Run({"-q", "-c", "255", "-y", "1", Path("tall.bmp"), "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(Cli, ToleranceBackgroundAndSpeckleSizeChooseThePixels) {
    const std::string exact = Run({"-c", "255", Path("board.bmp"), "-"}).out;
    // 254 is one step from red: matched from a tolerance of 1.
    Result r = Run({"-c", "254", Path("board.bmp"), "-"});
    EXPECT_EQ(r.out, "PCB FILE 4\r\n1\r\nENDPCB\r\n");
    r = Run({"-c", "254", "-t", "1", Path("board.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, exact);
    // Blue is as far from red as from white: the copper colour wins the tie,
    // a background colour nearer to blue takes it away.
    r = Run({"-c", "255", "-b", "#FFFFFF", "-t", "442", Path("board.bmp"), "-"});
    EXPECT_EQ(r.out, "PCB FILE 4\r\nFT\r\n0 2 5 2 2 1 1\r\nFT\r\n0 0 5 0 2 1 1\r\n1\r\nENDPCB\r\n");
    r = Run({"-c", "255", "-b", "#FFFFFF", "-b", "#0000F0", "-t", "442", Path("board.bmp"), "-"});
    EXPECT_EQ(r.out, exact);
    // The five red pixels are one region: kept at 5, dropped at 6, in both kinds of output.
    r = Run({"-c", "255", "-s", "5", Path("board.bmp"), "-"});
    EXPECT_EQ(r.out, exact);
    r = Run({"-c", "255", "-s", "6", Path("board.bmp"), "-"});
    EXPECT_EQ(r.out, "PCB FILE 4\r\n1\r\nENDPCB\r\n");
    r = Run({"-c", "255", "-s", "6", "-f", "gerber", Path("board.bmp"), Path("none.gbr")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rastrace-cli: warning: the colours given match 5 pixels; speckle removal (-s 6) removed them all\n"
                     "rastrace-cli: 0 shapes written to " + Path("none.gbr") + "\n");
    r = Run({"-c", "254", "-t", "1", "-f", "gerber", Path("board.bmp"), Path("near.gbr")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("near.gbr")), Run({"-c", "255", "-f", "gerber", Path("board.bmp"), "-"}).out);
}

// A colour whose every match speckle removal drops is told apart from one
// that matches nothing: the warning counts what it matched, read by rows
// and read whole (for a preview), for tracks and areas.
TEST_F(Cli, WarnsThatSpeckleRemovalRemovedEveryMatch) {
    const std::string sample = std::string(RASTRACE_SOURCE_DIR) + "/samples/board.bmp";
    const Result counts = Run({"--list-colors", sample});
    ASSERT_NE(counts.out.find("\n4229316 32158\n"), std::string::npos) << counts.out;
    ASSERT_NE(counts.out.find("\n6333654 6974\n"), std::string::npos) << counts.out;
    const std::string big = "rastrace-cli: warning: colour 4229316 (#C48840) matches 32158 pixels; speckle removal "
                            "(-s 100000) removed them all\n";
    const std::string absent = "rastrace-cli: warning: colour 0x123456 (#563412) matches no pixel\n";
    const std::string small = "rastrace-cli: warning: colour #D6A460 (#D6A460) matches 6974 pixels; speckle removal "
                              "(-s 100000) removed them all\n";
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{}, {"--preview", Path("p.png")}}) {
        std::vector<std::string> args = {"-q", "-x", "150", "-y", "150", "-s", "100000", "-c", "4229316", "-c", "0x123456",
                                         "-c", "#D6A460"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {sample, Path("out.asc")});
        Result r = Run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, big + absent + small);
        EXPECT_EQ(ReadBytes(Path("out.asc")), Run({"-q", "-f", "asc", "-c", "0x123456", Path("board.bmp"), "-"}).out)
            << "an empty track file";
        args.back() = Path("out.gbr");
        r = Run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "rastrace-cli: warning: the colours given match 39132 pixels; speckle removal (-s 100000) "
                         "removed them all\n");
    }
    // One pixel alone, and a speckle size that keeps some.
    Result r = Run({"-q", "-s", "2", "-c", "16711680", "-c", "255", Path("board.bmp"), "-"});
    EXPECT_EQ(r.err, "");
    r = Run({"-q", "-s", "6", "-c", "255", "-c", "16711680", Path("board.bmp"), "-"});
    EXPECT_EQ(r.err, "rastrace-cli: warning: colour 255 (#FF0000) matches 5 pixels; speckle removal (-s 6) removed them all\n"
                     "rastrace-cli: warning: colour 16711680 (#0000FF) matches 2 pixels; speckle removal (-s 6) removed "
                     "them all\n");
    rastrace::test::WriteFile(Path("dot.bmp"), rastrace::test::Bmp24FromPacked({{kWhite, kRed}, {kWhite, kWhite}}));
    r = Run({"-q", "-s", "2", "-c", "255", Path("dot.bmp"), "-"});
    EXPECT_EQ(r.err, "rastrace-cli: warning: colour 255 (#FF0000) matches 1 pixel; speckle removal (-s 2) removed it\n");
}

TEST_F(Cli, ReadsPngByContentAndTakesItsStatedResolution) {
    // The fixture's picture as a PNG stating 11811 pixels per metre (300 dpi), named .bmp.
    rastrace::test::PngPicture png;
    png.width = 4;
    png.height = 2;
    png.samples = {0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0,  255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 255, 255};
    png.xPerUnit = 11811;
    png.yPerUnit = 11811;
    const std::vector<uint8_t> bytes = rastrace::test::WritePng(png);
    WriteBytes(Path("scan.bmp"), std::string(bytes.begin(), bytes.end()));

    const std::string fromBmp = Run({"-c", "255", Path("board.bmp"), "-"}).out;
    Result r = Run({"-c", "255", Path("scan.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, fromBmp);
    EXPECT_EQ(r.err, "rastrace-cli: note: the file says 300 dpi; converting at 600 dpi (-x, -y)\n"
                     "rastrace-cli: 2 tracks of 255 written to standard output\n");
    r = Run({"-c", "255", "-x", "auto", "-y", "auto", "-w", "auto", Path("scan.bmp"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Run({"-c", "255", "-x", "300", "-y", "300", "-w", "4", Path("scan.bmp"), "-"}).out);
    EXPECT_EQ(r.err, "rastrace-cli: 2 tracks of 255 written to standard output\n");
    r = Run({"-c", "255", "-x", "auto", Path("scan.bmp"), Path("area.gbr")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("area.gbr")), Run({"-c", "255", "-x", "300", "-f", "gerber", Path("board.bmp"), "-"}).out);

    // A file that states no resolution cannot give one; nothing is written.
    WriteBytes(Path("old.pcb"), "keep me");
    r = Run({"-c", "255", "-y", "auto", Path("board.bmp"), Path("old.pcb")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: " + Path("board.bmp") + ": The picture file states no Y resolution.\n");
    EXPECT_EQ(ReadBytes(Path("old.pcb")), "keep me");

    // A damaged PNG names its kind.
    WriteBytes(Path("cut.png"), std::string(bytes.begin(), bytes.begin() + 40));
    r = Run({"-c", "255", Path("cut.png"), Path("old.pcb")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("rastrace-cli: " + Path("cut.png") + ": Cannot read PNG file: ", 0), 0u) << r.err;
    EXPECT_EQ(ReadBytes(Path("old.pcb")), "keep me");
    r = Run({"--list-colors", Path("scan.bmp")});
    EXPECT_EQ(r.out, Run({"--list-colors", Path("board.bmp")}).out);
}

TEST_F(Cli, PreviewShowsWhatWouldBeTracedAndConvertsOnlyWithAnOutput) {
    auto colours = [](const std::string& path) {
        const rastrace::Picture picture = rastrace::ReadPictureFile(path);
        std::vector<uint32_t> all;
        for (int32_t y = 0; y < picture.raster.Height(); ++y) {
            for (int32_t x = 0; x < picture.raster.Width(); ++x) all.push_back(picture.raster.PixelColor(x, y));
        }
        return all;
    };
    Result r = Run({"-c", "255", "--preview", Path("p.png"), Path("board.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rastrace-cli: preview written to " + Path("p.png") + "\n");
    EXPECT_EQ(colours(Path("p.png")), (std::vector<uint32_t>{kWhite, kWhite, kRed, kRed, kRed, kRed, kRed, kWhite}));
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"p.png"});

    // Both colours, blue shown in blue; with OUTPUT the conversion follows.
    r = Run({"-c", "255", "-c", "#0000FF", "--preview", Path("p.png"), Path("board.bmp"), Path("out.pcb")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(colours(Path("p.png")), (std::vector<uint32_t>{kBlue, kBlue, kRed, kRed, kRed, kRed, kRed, kWhite}));
    EXPECT_EQ(ReadBytes(Path("out.pcb")).rfind("PCB FILE 4\r\n", 0), 0u);

    // Tolerance and speckle removal as the conversion applies them.
    r = Run({"-c", "254", "-t", "1", "-s", "6", "--preview", Path("p.png"), Path("board.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(colours(Path("p.png")), std::vector<uint32_t>(8, kWhite));
    r = Run({"-c", "254", "-t", "1", "--preview", Path("p.png"), Path("board.bmp")});
    EXPECT_EQ(colours(Path("p.png")), (std::vector<uint32_t>{kWhite, kWhite, 254, 254, 254, 254, 254, kWhite}));

    r = Run({"-c", "255", "--preview", Path("no-such-folder/p.png"), Path("board.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: " + Path("no-such-folder/p.png") + ": File not found.\n");
    r = Run({"-c", "255", "--preview", Path("board.bmp"), Path("board.bmp")});
    EXPECT_EQ(r.status, 2);
    r = Run({"--preview", Path("p.png"), Path("board.bmp")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "rastrace-cli: at least one colour is needed (-c COLOUR)\n"
                     "Try 'rastrace-cli --help' for more information.\n");
}

// A header of a few bytes that promises more rows than any picture could
// hold is refused at once, as the whole read refuses it; one the machine
// could hold is converted as the zero bytes it stands for, row by row.
TEST_F(Cli, AShortFilePromisingRowsWithoutEndIsRefusedAtOnce) {
    auto header = [](int32_t width, int32_t height) {
        rastrace::test::BmpBuilder b;
        b.width = width;
        b.height = height;
        return b.Build();
    };
    rastrace::test::WriteFile(Path("endless.bmp"), header(100000, 1 << 30));
    const auto start = std::chrono::steady_clock::now();
    Result r = Run({"-c", "0", Path("endless.bmp"), Path("out.pcb")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rastrace-cli: " + Path("endless.bmp") + ": Out of memory.\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(std::filesystem::exists(Path("out.pcb")));

    rastrace::test::WriteFile(Path("short.bmp"), header(3000, 2000));
    r = Run({"-q", "-c", "0", Path("short.bmp"), Path("out.pcb")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "rastrace-cli: warning: " + Path("short.bmp") +
                         ": the file ends before its pixel data; the missing pixels were filled in\n");
    const std::string text = ReadBytes(Path("out.pcb"));
    size_t tracks = 0;
    for (size_t at = text.find("FT\r\n"); at != std::string::npos; at = text.find("FT\r\n", at + 1)) ++tracks;
    EXPECT_EQ(tracks, 2000u) << "one black track per row";
}

namespace {

// Whether this build runs under a sanitizer, whose shadow memory and
// checks make memory and time figures meaningless.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(RASTRACE_ADDRESS_SANITIZER) || \
    defined(RASTRACE_THREAD_SANITIZER)
    true;
#else
    false;
#endif

// What one run of the program cost: its exit status, the wall time, and its
// peak resident memory as the kernel counted it (wait4).
struct Cost {
    int status = -1;
    double seconds = 0;
    long peakKb = 0;
};

// Runs the program with standard output into outPath and standard error
// into errPath.
Cost RunCounted(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
    std::vector<std::string> argv = {RASTRACE_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    Cost cost;
    if (posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ) == 0) {
        int raw_status = 0;
        rusage usage {};
        if (wait4(pid, &raw_status, 0, &usage) == pid) {
            cost.status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : -1;
            cost.peakKb = usage.ru_maxrss;
        }
    }
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return cost;
}

struct ShortBitmapKind {
    const char* name;
    uint16_t bitCount;
    uint32_t compression;  // 0, 1 (RLE8), 2 (RLE4), 3 (bit fields)
};

// A file of a few kilobytes whose header declares width x height: some
// pixel bytes (or a run-length stream that writes a few rows and stops),
// nowhere near what the header promises.
std::vector<uint8_t> ShortBitmap(const ShortBitmapKind& kind, int32_t width, int32_t height) {
    rastrace::test::BmpBuilder b;
    b.width = width;
    b.height = height;
    b.bitCount = kind.bitCount;
    b.compression = kind.compression;
    if (kind.bitCount <= 8) {
        b.palette = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
        b.clrUsed = 4;
    }
    if (kind.compression == 3) {
        b.masks = kind.bitCount == 16 ? std::array<uint32_t, 4>{0xF800, 0x07E0, 0x001F, 0}
                                      : std::array<uint32_t, 4>{0x00FF0000, 0x0000FF00, 0x000000FF, 0};
    }
    uint32_t seed = 12345;
    auto next = [&seed] { return static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
    if (kind.compression == 1 || kind.compression == 2) {
        // Rows of runs, a delta up a few rows, a row of literal pixels, no end.
        const uint8_t two = kind.compression == 2 ? 0x12 : 1;
        for (int row = 0; row < 40; ++row) b.pixels.insert(b.pixels.end(), {200, two, 100, 3, 0, 0});
        b.pixels.insert(b.pixels.end(), {0, 2, 7, 9, 0, 4, 1, 2, 3, 1, 0, 0, 50, 2});
        b.sizeImage = static_cast<uint32_t>(b.pixels.size() * 1000);
    } else {
        for (int i = 0; i < 6000; ++i) b.pixels.push_back(next() & 0x3F);
    }
    return b.Build();
}

constexpr ShortBitmapKind kShortBitmapKinds[] = {
    {"Bits1", 1, 0},  {"Bits4", 4, 0},  {"Bits8", 8, 0},          {"Bits16", 16, 0}, {"BitFields16", 16, 3},
    {"Bits24", 24, 0}, {"Bits32", 32, 0}, {"BitFields32", 32, 3}, {"Rle8", 8, 1},    {"Rle4", 4, 2}};

// The colour with the most pixels in a --list-colors text: the made-up row's.
std::string MostCommonColour(const std::string& listing) {
    std::istringstream in(listing);
    std::string best;
    uint64_t bestCount = 0;
    std::string colour;
    uint64_t count = 0;
    while (in >> colour >> count) {
        if (count > bestCount) {
            best = colour;
            bestCount = count;
        }
    }
    return best;
}

class CliShortBitmaps : public Cli, public ::testing::WithParamInterface<ShortBitmapKind> {};

INSTANTIATE_TEST_SUITE_P(Kinds, CliShortBitmaps, ::testing::ValuesIn(kShortBitmapKinds),
                         [](const ::testing::TestParamInfo<ShortBitmapKind>& info) { return std::string(info.param.name); });

// A few kilobytes promising up to 2^20 x 2^16 pixels: listing the colours
// and converting to every format (the made-up row a listed colour, so the
// track files hold a record a row) take well under a second and 64 MB,
// the rows the file lacks being one row repeated. The resolution keeps
// the areas' coordinates within what their formats hold.
TEST_P(CliShortBitmaps, PromisingMillionsOfRowsCostsTheFileAndTheOutput) {
    const ShortBitmapKind kind = GetParam();
    const double most = kSanitized ? 20.0 : 1.0;
    const bool runLength = kind.compression == 1 || kind.compression == 2;
    for (const auto& [width, height] : {std::pair<int32_t, int32_t>{1 << 20, 1 << 16}, std::pair<int32_t, int32_t>{1 << 16, 1 << 20},
                                       std::pair<int32_t, int32_t>{1 << 20, -(1 << 16)}}) {
        if (runLength && height < 0) continue;  // run-length files are bottom-up
        const std::string file = Path("short.bmp");
        rastrace::test::WriteFile(file, ShortBitmap(kind, width, height));
        const std::string what = std::to_string(width) + " x " + std::to_string(height);
        auto check = [&](const std::vector<std::string>& args, const std::string& out) {
            const Cost cost = RunCounted(args, out, Path("stderr"));
            EXPECT_EQ(cost.status, 0) << what << ": " << ReadBytes(Path("stderr"));
            EXPECT_LT(cost.seconds, most) << what << ": " << args.front();
            if (!kSanitized) {
                EXPECT_LT(cost.peakKb, 64 * 1024) << what << ": " << args.front();
            }
        };
        check({"--list-colors", file}, Path("colours"));
        const std::string listing = ReadBytes(Path("colours"));
        const std::string madeUp = MostCommonColour(listing);
        ASSERT_FALSE(madeUp.empty()) << what << ": " << listing;
        check({"--list-colors", "--top", "2", "-m", "v", file}, Path("top"));
        EXPECT_EQ(ReadBytes(Path("top")).substr(0, madeUp.size() + 1), madeUp + " ") << what;
        for (const char* format : {"pcb", "asc", "gerber", "kicad"}) {
            check({"-q", "-c", madeUp, "-c", "0xFFFFFF", "-f", format, "-x", "100000", "-y", "100000", file, "/dev/null"},
                  "/dev/null");
        }
        check({"-q", "-c", madeUp, "-s", "4", "-f", "gerber", "-x", "100000", "-y", "100000", file, "/dev/null"},
              "/dev/null");
        // The board rule passes over the made-up rows as well (it holds a
        // window of rows, so only on the narrower picture within 64 MB).
        if (width == 1 << 16) {
            check({"-q", "-r", "board", "-c", madeUp, "-b", "0xFFFFFF", "-f", "pcb", file, "/dev/null"}, "/dev/null");
            check({"-q", "-r", "board", "-c", madeUp, "-b", "0xFFFFFF", "-f", "gerber", "-y", "100000", file, "/dev/null"},
                  "/dev/null");
        }
    }
    std::vector<std::string> left = Leftovers();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"colours", "short.bmp", "top"}));
}

// At sizes the whole read holds, the rows read by rows give the same
// bytes: the listing (from the file and from a pipe) is the whole
// picture's count, and the conversions are those with --preview, where
// the picture is read whole and converted from memory.
TEST_P(CliShortBitmaps, GiveTheWholeReadsBytesWhereItHoldsThePicture) {
    const ShortBitmapKind kind = GetParam();
    const std::string file = Path("short.bmp");
    // Taller than the board rule's window of rows many times over.
    rastrace::test::WriteFile(file, ShortBitmap(kind, 1501, 999));
    std::string expected;
    for (const rastrace::ColorCount& c : rastrace::CountColors(rastrace::ReadPictureFile(file).raster)) {
        expected += std::to_string(c.color) + " " + std::to_string(c.pixels) + "\n";
    }
    Result streamed = Run({"--list-colors", file});
    ASSERT_EQ(streamed.status, 0) << streamed.err;
    EXPECT_EQ(streamed.out, expected);
    Result piped = RunShell("cat " + Quote(file) + " | " + Quote(RASTRACE_CLI_PATH) + " --list-colors -");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, expected);
    const std::string madeUp = MostCommonColour(streamed.out);
    for (const char* format : {"pcb", "asc", "gerber", "kicad"}) {
        for (const char* speckles : {"0", "3", "board"}) {
            const bool board = std::string(speckles) == "board";
            const std::vector<std::string> options =
                board ? std::vector<std::string>{"-q", "-r", "board", "-c", madeUp, "-b", "0xFFFFFF", "-m", "v", "-f", format}
                      : std::vector<std::string>{"-q", "-c", madeUp, "-c", "0xFFFFFF", "-s", speckles, "-m", "v", "-f", format};
            // One output name: KiCad's footprint is named after it.
            std::vector<std::string> args = options;
            args.insert(args.end(), {file, Path("board.out")});
            ASSERT_EQ(Run(args).status, 0);
            const std::string streamedText = ReadBytes(Path("board.out"));
            args = options;
            args.insert(args.end(), {"--preview", "/dev/null", file, Path("board.out")});
            ASSERT_EQ(Run(args).status, 0);
            EXPECT_TRUE(streamedText == ReadBytes(Path("board.out"))) << format << ", speckles " << speckles;
        }
    }
    std::remove(Path("board.out").c_str());
}

}  // namespace

TEST_F(Cli, ThePreviewOfTheBoardRuleIsAtTheResolutionTheFileStates) {
    // A track crossed by a white stroke 12 pixels wide on a black mask, in
    // a PNG stating 1200 dpi: print up to 0.4 mm is 18 pixels there, so the
    // track runs on under it; at 600 dpi (9 pixels) it would not.
    rastrace::test::PngPicture png;
    png.width = 60;
    png.height = 40;
    for (uint32_t y = 0; y < png.height; ++y) {
        for (uint32_t x = 0; x < png.width; ++x) {
            const bool stroke = x >= 24 && x < 36, track = y >= 16 && y < 24;
            const uint16_t v = stroke ? 240 : track ? 60 : 10;
            png.samples.insert(png.samples.end(), {v, v, v});
        }
    }
    png.xPerUnit = 47244;
    png.yPerUnit = 47244;
    const std::vector<uint8_t> bytes = rastrace::test::WritePng(png);
    WriteBytes(Path("cross.png"), std::string(bytes.begin(), bytes.end()));
    auto preview = [&](const std::string& x, const std::string& y, const std::string& name) {
        const Result r = Run({"-q", "-r", "board", "-c", "#3C3C3C", "-b", "#0A0A0A", "-b", "#F0F0F0", "-x", x, "-y", y,
                              "--preview", Path(name), Path("cross.png"), "-"});
        EXPECT_EQ(r.status, 0) << r.err;
        return std::make_pair(ReadBytes(Path(name)), r.out);
    };
    const auto stated = preview("auto", "auto", "auto.png");
    const auto given = preview("1200", "1200", "given.png");
    EXPECT_EQ(stated, given);
    EXPECT_NE(stated.first, preview("600", "600", "coarse.png").first);
    // The conversion after the preview is the one without it.
    EXPECT_EQ(stated.second, Run({"-q", "-r", "board", "-c", "#3C3C3C", "-b", "#0A0A0A", "-b", "#F0F0F0", "-x", "auto",
                                  "-y", "auto", Path("cross.png"), "-"}).out);
    for (const char* name : {"cross.png", "auto.png", "given.png", "coarse.png"}) std::remove(Path(name).c_str());
}

TEST_F(Cli, TheBoardRuleHolesAndSuggestions) {
    // A white stroke on a black mask, its edges the grey of the track beside
    // it; a hole colour (the lid), three pixels square (the smallest drill
    // at 300 dpi), in the track.
    constexpr uint32_t kMask = 0x0A0A0A, kTrack = 0x3C3C3C, kPrint = 0xF0F0F0, kLid = 0xFCFCFC;
    std::vector<std::vector<uint32_t>> rows(13, {kMask, kTrack, kPrint, kPrint, kTrack, kMask, kTrack, kTrack, kTrack,
                                                 kTrack, kTrack, kTrack, kTrack, kTrack, kTrack, kMask});
    for (int y = 5; y <= 7; ++y) rows[y][9] = rows[y][10] = rows[y][11] = kLid;
    rastrace::test::WriteFile(Path("black.bmp"), rastrace::test::Bmp24FromPacked(rows));
    // At 300 dpi the rule looks a pixel either side for blends.
    const std::vector<std::string> picks = {"-x", "300", "-c", "#3C3C3C", "-b", "#0A0A0A", "-b", "#F0F0F0", "-H", "#FCFCFC"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), picks.begin(), picks.end());
        for (const std::string& a : {std::string("-q"), Path("black.bmp"), std::string("-")}) args.push_back(a);
        return Run(args);
    };
    const Result board = run({"-r", "board"});
    ASSERT_EQ(board.status, 0) << board.err;
    // Only the track, a run a row but the three the hole splits.
    size_t tracks = 0;
    for (size_t at = board.out.find("FT\r\n"); at != std::string::npos; at = board.out.find("FT\r\n", at + 1)) ++tracks;
    EXPECT_EQ(tracks, 16u) << board.out;
    // Today's rule takes the stroke's edges too; a hole colour is one more
    // background colour there.
    const Result colour = run({"-r", "colour"});
    EXPECT_EQ(colour.out, Run({"-q", "-x", "300", "-c", "#3C3C3C", "-b", "#0A0A0A", "-b", "#F0F0F0", "-b", "#FCFCFC",
                               Path("black.bmp"), "-"}).out);
    EXPECT_NE(colour.out, board.out);

    const Result suggest = Run({"--suggest", "--top", "2", Path("black.bmp")});
    EXPECT_EQ(suggest.status, 0);
    EXPECT_EQ(suggest.out, "#3C3C3C 64.4% at 1,0\n#0A0A0A 18.8% at 0,0\n");
    EXPECT_EQ(suggest.err, "");

    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-r", "grey", "-c", "1", Path("black.bmp"), "-"}, "-r: the rule must be colour or board, not 'grey'"},
             {{"-H", "#12345", "-c", "1", Path("black.bmp"), "-"},
              "-H: '#12345' is not a colour: write #RRGGBB with six hexadecimal digits"},
             {{"--suggest", Path("black.bmp"), "-"}, "--suggest takes one INPUT"},
             {{"--suggest", "--list-colors", Path("black.bmp")}, "--suggest goes alone with INPUT (and --top)"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "rastrace-cli: " + message + "\nTry 'rastrace-cli --help' for more information.\n");
    }
}

// The whole board's options: what goes with --bottom, and what it needs.
TEST_F(Cli, BoardOptionsAreCheckedBeforeAnythingIsRead) {
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-c", "1", "--bottom-color", "2", Path("a.bmp"), Path("b.kicad_pcb")}, "--bottom-color goes with --bottom"},
             {{"-c", "1", "--align", "1,2=3,4", Path("a.bmp"), Path("b.kicad_pcb")}, "--align goes with --bottom"},
             {{"-c", "1", "--bottom", Path("b.bmp"), Path("a.bmp"), Path("out.gbr")},
              "--bottom: OUTPUT must be a board, ending in .kicad_pcb or .gbrjob"},
             {{"-c", "1", "--bottom", Path("b.bmp"), "--align", "1,2=3,4", Path("a.bmp"), Path("o.kicad_pcb")},
              "--align: at least three point pairs are needed, not 1"},
             {{"-c", "1", "--bottom", Path("b.bmp"), "--align", "1,2=3", "--align", "1,2=3,4", "--align", "5,6=7,8",
               Path("a.bmp"), Path("o.GBRJOB")},
              "--align: '1,2=3' is not a point pair X,Y=U,V (a top pixel, then the bottom's)"},
             {{"-c", "1", "--bottom", Path("b.bmp"), "--bottom-hole-color", "#12", Path("a.bmp"), Path("o.kicad_pcb")},
              "--bottom-hole-color: '#12' is not a colour: write #RRGGBB with six hexadecimal digits"},
             {{"--preview", Path("p.png"), "-c", "1", Path("a.bmp"), Path("o.kicad_pcb")},
              "--preview does not go with a board OUTPUT"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, "rastrace-cli: " + message + "\nTry 'rastrace-cli --help' for more information.\n");
    }
    // -f keeps its say over a board's extension.
    const Result pcb = Run({"-q", "-c", "255", "-f", "pcb", Path("a.bmp"), Path("o.kicad_pcb")});
    EXPECT_NE(pcb.err.find("a.bmp"), std::string::npos);  // read as the tracks' input (no such file here)
}
