// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-cli in a terminal and under signals: the progress bar as a
// pseudo-terminal shows it, and the cleanup of an interrupted conversion.
#include "support/BmpBuilder.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using rastrace::test::ReadBytes;
using rastrace::test::WriteBytes;

namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

// A 24-bit bottom-up BMP of width x height pixels, colour(x, y) packed
// 0x00BBGGRR, y = 0 the top row; built straight into a string, as the
// pictures here are large.
std::string Bmp24(int32_t width, int32_t height, const std::function<uint32_t(int32_t, int32_t)>& colour) {
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t body = stride * static_cast<uint32_t>(height);
    std::string bytes(54 + body, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, 54 + body);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = 24;
    for (int32_t y = 0; y < height; ++y) {
        char* row = &bytes[54 + static_cast<size_t>(height - 1 - y) * stride];
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = colour(x, y);
            row[3 * x] = static_cast<char>(c >> 16);
            row[3 * x + 1] = static_cast<char>(c >> 8);
            row[3 * x + 2] = static_cast<char>(c);
        }
    }
    return bytes;
}

std::vector<char*> Argv(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

struct PtyResult {
    int status = -1;          // exit status, or -1 when ended by a signal
    std::string screen;       // every byte the terminal received
};

// The screen text split at carriage returns and line breaks, with the
// "clear to end of line" sequence taken out: what each redraw leaves.
std::vector<std::string> Segments(const std::string& screen) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < screen.size(); ++i) {
        if (screen.compare(i, 3, "\x1b[K") == 0) {
            i += 2;
        } else if (screen[i] == '\r' || screen[i] == '\n') {
            if (!parts.back().empty()) parts.emplace_back();
        } else {
            parts.back() += screen[i];
        }
    }
    if (parts.back().empty()) parts.pop_back();
    return parts;
}

// The percentages of the bar's redraws, in order, each with its width.
struct Redraw {
    int percent;
    size_t width;
};

std::vector<Redraw> Redraws(const std::string& screen) {
    std::vector<Redraw> redraws;
    for (const std::string& s : Segments(screen)) {
        if (s.size() >= 4 && s.back() == '%' && s.find("rastrace-cli") == std::string::npos) {
            redraws.push_back({std::atoi(s.substr(s.size() - 4, 3).c_str()), s.size()});
        }
    }
    return redraws;
}

class CliTerminal : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/rastrace-cli-pty-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        shared_ = pattern;
        // Four colours at random: every colour has runs in every row.
        std::mt19937 random(7);
        const uint32_t palette[] = {kRed, kGreen, kBlue, kWhite};
        WriteBytes(shared_ + "/noisy.bmp", Bmp24(400, 600, [&](int32_t, int32_t) { return palette[random() % 4]; }));
        // A large plain picture: scanning it for many absent colours takes a
        // while and writes almost nothing.
        WriteBytes(shared_ + "/large.bmp", Bmp24(3000, 3000, [](int32_t, int32_t) { return kWhite; }));
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + shared_ + "'").c_str()); }

    void SetUp() override {
        char pattern[] = "/tmp/rastrace-cli-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    static std::string Shared(const std::string& name) { return shared_ + "/" + name; }

    // Runs the program with a pseudo-terminal of the given width as its
    // standard input, output and error; standard output goes to stdoutPath
    // instead when one is given. onFirstBar runs (with the terminal's
    // master side) once the first bar has been drawn.
    PtyResult RunInTerminal(std::vector<std::string> args, unsigned short columns, const std::string& stdoutPath = "",
                            const std::function<void(int)>& onFirstBar = {}) {
        args.insert(args.begin(), RASTRACE_CLI_PATH);
        std::vector<char*> argv = Argv(args);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
        if (pid == 0) {
            if (!stdoutPath.empty()) {
                const int fd = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
                if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) _exit(126);
                ::close(fd);
            }
            ::execv(argv[0], argv.data());
            _exit(127);
        }
        PtyResult result;
        if (pid < 0) {
            ADD_FAILURE() << "forkpty failed";
            return result;
        }
        bool barSeen = false;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // EIO: the program has ended and closed the terminal
            result.screen.append(buffer, static_cast<size_t>(n));
            if (!barSeen && onFirstBar && result.screen.find('%') != std::string::npos) {
                barSeen = true;
                onFirstBar(master);
            }
        }
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        ::close(master);
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return result;
    }

    std::string dir_;
    static std::string shared_;
};

std::string CliTerminal::shared_;

std::vector<std::string> FourColours() {
    return {"-c", "255", "-c", "65280", "-c", "16711680", "-c", "16777215"};
}

}  // namespace

TEST_F(CliTerminal, BarFitsTheTerminalAndEndsAtFullWithFourColours) {
    std::vector<std::string> args = FourColours();
    args.push_back(Shared("noisy.bmp"));
    args.push_back(Path("out.pcb"));
    const PtyResult r = RunInTerminal(args, 40);
    ASSERT_EQ(r.status, 0) << r.screen;
    const std::vector<Redraw> redraws = Redraws(r.screen);
    ASSERT_FALSE(redraws.empty()) << r.screen;
    for (size_t i = 0; i < redraws.size(); ++i) {
        EXPECT_EQ(redraws[i].width, 39u) << "one column short of the terminal's 40";
        if (i > 0) {
            EXPECT_GE(redraws[i].percent, redraws[i - 1].percent) << "the bar never goes back";
        }
    }
    EXPECT_EQ(redraws.back().percent, 100);
    // The bar's last line is ended before the summary, which stands alone.
    const std::string tail = "] 100%\x1b[K\r\nrastrace-cli: ";
    EXPECT_NE(r.screen.find(tail), std::string::npos) << r.screen.substr(r.screen.size() - 200);
    const std::vector<std::string> lines = Segments(r.screen);
    EXPECT_EQ(lines.back().rfind("rastrace-cli: ", 0), 0u);
    EXPECT_NE(lines.back().find(" written to " + Path("out.pcb")), std::string::npos);
}

TEST_F(CliTerminal, BarRedrawsAtTheNewWidthWhenTheTerminalIsResized) {
    std::vector<std::string> args;
    for (int c = 1; c <= 96; ++c) args.insert(args.end(), {"-c", std::to_string(c)});
    args.push_back(Shared("large.bmp"));
    args.push_back(Path("out.pcb"));
    const PtyResult r = RunInTerminal(args, 40, "", [](int master) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 60;
        ::ioctl(master, TIOCSWINSZ, &size);  // the terminal sends the program SIGWINCH
    });
    ASSERT_EQ(r.status, 0) << r.screen.substr(0, 500);
    const std::vector<Redraw> redraws = Redraws(r.screen);
    ASSERT_FALSE(redraws.empty());
    EXPECT_EQ(redraws.front().width, 39u);
    EXPECT_EQ(redraws.back().width, 59u) << "redrawn one column short of the new 60";
    EXPECT_EQ(redraws.back().percent, 100);
}

TEST_F(CliTerminal, BarShowsWhileListingColoursOfALargePicture) {
    const PtyResult r = RunInTerminal({"--list-colors", Shared("large.bmp")}, 50, Path("colours.txt"));
    ASSERT_EQ(r.status, 0) << r.screen;
    const std::vector<Redraw> redraws = Redraws(r.screen);
    ASSERT_FALSE(redraws.empty()) << r.screen;
    EXPECT_EQ(redraws.back().percent, 100);
    EXPECT_EQ(redraws.back().width, 49u);
    EXPECT_EQ(ReadBytes(Path("colours.txt")), "16777215 9000000\n");
}

TEST_F(CliTerminal, BarStaysOffWhenTheOutputGoesToTheSameTerminal) {
    std::vector<std::string> args = FourColours();
    args.push_back(Shared("noisy.bmp"));
    args.push_back("-");
    PtyResult r = RunInTerminal(args, 40);
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.screen.find("ENDPCB"), std::string::npos);
    EXPECT_EQ(r.screen.find('%'), std::string::npos) << "no bar between the lines of the output";

    r = RunInTerminal({"--list-colors", Shared("noisy.bmp")}, 40);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.screen.find('%'), std::string::npos);

    args.back() = Path("out.pcb");
    args.push_back("-q");
    r = RunInTerminal(args, 40);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.screen, "") << "quiet: no bar, no summary";
}

namespace {

// Starts the program with standard output and error into files, and
// returns its process id. The program starts as from a shell: every signal
// at its default action and none blocked, and no core files (the signals
// that dump one are sent here). inChild runs in the child before the
// program starts, for a resource limit or other standard files.
pid_t Start(std::vector<std::string> args, const std::string& errPath, const std::function<void()>& inChild = {}) {
    args.insert(args.begin(), RASTRACE_CLI_PATH);
    std::vector<char*> argv = Argv(args);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0) _exit(126);
        for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (inChild) inChild();
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    return names;
}

}  // namespace

class CliSignal : public CliTerminal, public ::testing::WithParamInterface<int> {};

TEST_P(CliSignal, RemovesTheTemporaryFileAndEndsByTheSignal) {
    const int sig = GetParam();
    ASSERT_EQ(::mkdir(Path("out").c_str(), 0777), 0);
    WriteBytes(Path("out/board.pcb"), "keep me");
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, Path("out").c_str(), IN_CREATE), 0);

    std::vector<std::string> args;
    for (int c = 1; c <= 128; ++c) args.insert(args.end(), {"-c", std::to_string(c)});
    args.push_back(Shared("large.bmp"));
    args.push_back(Path("out/board.pcb"));
    const pid_t pid = Start(args, Path("stderr"));
    ASSERT_GT(pid, 0);

    // The temporary output file appears once the picture is read and the
    // conversion starts: interrupt it then.
    pollfd p{watch, POLLIN, 0};
    const bool created = ::poll(&p, 1, 60000) == 1;
    ::kill(pid, sig);
    ::close(watch);
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(created) << "no temporary file was made";
    ASSERT_TRUE(WIFSIGNALED(raw)) << "ended with status " << (WIFEXITED(raw) ? WEXITSTATUS(raw) : -1)
                                  << " before the signal: " << ReadBytes(Path("stderr"));
    EXPECT_EQ(WTERMSIG(raw), sig) << "a shell shows " << 128 + sig;
    EXPECT_EQ(Names(Path("out")), std::vector<std::string>{"board.pcb"}) << "the temporary file is gone";
    EXPECT_EQ(ReadBytes(Path("out/board.pcb")), "keep me");
}

// Every signal that ends the program: from the terminal, a pipe's reader,
// the resource limits, timers, the user's own, a real-time one.
INSTANTIATE_TEST_SUITE_P(Signals, CliSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGXCPU, SIGALRM,
                                           SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2, SIGABRT, SIGRTMIN + 1),
                         [](const auto& info) {
                             const char* name = sigabbrev_np(info.param);
                             return name != nullptr ? std::string(name) : "RT" + std::to_string(info.param);
                         });

namespace {

// The names of the hidden temporary files the program makes in dir.
std::vector<std::string> TemporaryFiles(const std::string& dir) {
    std::vector<std::string> found;
    for (const std::string& n : Names(dir)) {
        if (n.rfind(".rastrace-", 0) == 0) found.push_back(n);
    }
    return found;
}

}  // namespace

TEST_F(CliTerminal, AFileSizeLimitEndsTheProgramBySigxfszWithoutAPartialFile) {
    // Four colours of random pixels make megabytes of tracks; the limit
    // stops the temporary file at 256 KiB.
    ASSERT_EQ(::mkdir(Path("out").c_str(), 0777), 0);
    WriteBytes(Path("out/board.pcb"), "keep me");
    for (const bool area : {false, true}) {
        SCOPED_TRACE(area ? "gerber" : "pcb");
        // The area of one colour: thousands of small regions.
        std::vector<std::string> args = area ? std::vector<std::string>{"-c", "255", "-f", "gerber"} : FourColours();
        args.insert(args.end(), {Shared("noisy.bmp"), Path("out/board.pcb")});
        const pid_t pid = Start(args, Path("stderr"), [] {
            const rlimit limit{256 << 10, 256 << 10};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        ASSERT_GT(pid, 0);
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(raw)) << "ended with status " << (WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) << ": "
                                      << ReadBytes(Path("stderr"));
        EXPECT_EQ(WTERMSIG(raw), SIGXFSZ);
        EXPECT_EQ(Names(Path("out")), std::vector<std::string>{"board.pcb"}) << "the temporary file is gone";
        EXPECT_EQ(ReadBytes(Path("out/board.pcb")), "keep me");
    }
    // Without the limit both make more than it.
    for (const std::string format : {"pcb", "gerber"}) {
        std::vector<std::string> args = format == "pcb" ? FourColours() : std::vector<std::string>{"-c", "255"};
        args.insert(args.end(), {"-q", "-f", format, Shared("noisy.bmp"), Path("out/board.pcb")});
        const pid_t pid = Start(args, Path("stderr"));
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << ReadBytes(Path("stderr"));
        struct stat st {};
        ASSERT_EQ(::stat(Path("out/board.pcb").c_str(), &st), 0);
        EXPECT_GT(st.st_size, 1 << 20) << format;
        EXPECT_TRUE(TemporaryFiles(Path("out")).empty());
    }
}

TEST_F(CliTerminal, OutputToAPipeWithoutAReaderEndsTheProgramBySigpipe) {
    // Standard output is a pipe whose reading end is closed: the first
    // write raises SIGPIPE, which ends the program as it ends any command
    // in a pipeline whose reader has gone.
    WriteBytes(Path("old.pcb"), "keep me");
    const std::vector<std::vector<std::string>> commands = {
        {"--list-colors", Shared("noisy.bmp")},
        {"--top", "2", "--list-colors", Shared("large.bmp")},
        {"-c", "255", Shared("noisy.bmp"), "-"},
        {"-c", "255", "-f", "kicad", Shared("noisy.bmp"), "-"},
        {"-c", "255", "--color-at", "1,1", Shared("noisy.bmp")},
    };
    for (const std::vector<std::string>& args : commands) {
        SCOPED_TRACE(args.front() + " ... " + args.back());
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const pid_t pid = Start(args, Path("stderr"), [&] {
            ::close(ends[0]);
            if (::dup2(ends[1], STDOUT_FILENO) < 0) _exit(126);
            ::close(ends[1]);
        });
        ::close(ends[0]);
        ::close(ends[1]);
        ASSERT_GT(pid, 0);
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(raw)) << "ended with status " << (WIFEXITED(raw) ? WEXITSTATUS(raw) : -1) << ": "
                                      << ReadBytes(Path("stderr"));
        EXPECT_EQ(WTERMSIG(raw), SIGPIPE);
        EXPECT_EQ(ReadBytes(Path("stderr")), "") << "no message: a pipe's end is no failure";
    }
    std::vector<std::string> left = Names(dir_);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"old.pcb", "stderr"}));
}
