// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-benchrun: runs one command several times and reports its wall
// time and peak memory, for scripts/bench.sh.
//
//   rastrace-benchrun [-n RUNS] [-w WARMUPS] -- COMMAND [ARGS...]
//
// Each run is a fresh process; its standard output goes to /dev/null, its
// standard error stays. Wall time is taken around fork and wait4, peak
// memory is the child's ru_maxrss from wait4 (kilobytes). Prints one line:
//   "median_s min_s max_s median_maxrss_kb max_maxrss_kb"
// Exits 1, printing "failed STATUS", as soon as a run exits non-zero or dies.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample {
    double seconds;
    long maxRssKb;
};

// One run of argv; status receives the wait status.
bool RunOnce(char** argv, Sample& sample, int& status) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) dup2(devNull, STDOUT_FILENO);
        execvp(argv[0], argv);
        std::fprintf(stderr, "rastrace-benchrun: cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return false;
    }
    sample.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.maxRssKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <class T>
T Median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5, warmups = 0, i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "-w") == 0 && i + 1 < argc) {
            warmups = std::atoi(argv[++i]);
        } else {
            break;
        }
    }
    if (i >= argc || runs < 1 || warmups < 0) {
        std::fprintf(stderr, "Usage: rastrace-benchrun [-n RUNS] [-w WARMUPS] -- COMMAND [ARGS...]\n");
        return 2;
    }
    char** command = argv + i;
    std::vector<double> times;
    std::vector<long> rss;
    for (int k = 0; k < warmups + runs; ++k) {
        Sample s{};
        int status = 0;
        if (!RunOnce(command, s, status)) {
            std::printf("failed %d\n", status);
            return 1;
        }
        if (k < warmups) continue;
        times.push_back(s.seconds);
        rss.push_back(s.maxRssKb);
    }
    std::printf("%.6f %.6f %.6f %ld %ld\n", Median(times), *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()), Median(rss), *std::max_element(rss.begin(), rss.end()));
    return 0;
}
