// morvane-timer: runs a command several times and prints the median wall
// time, the median processor time (user + system, all threads) and the
// peak resident memory of the runs, on one line:
//   median_s=<s> min_s=<s> max_s=<s> cpu_s=<s> runs=<K> maxrss_kib=<KiB>
// The command's standard output and error go to /dev/null. Before each run
// (untimed) the --rm file is deleted, so every run creates its output anew.
// Exits 1 when a run's exit status is not --status (default 0).
//   morvane-timer [--repeat K] [--rm FILE] [--status S] -- command [args...]
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double seconds(const timeval &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char **argv)
{
    int repeat = 1, expected = 0, a = 1;
    const char *removeFirst = nullptr;
    for (; a < argc; ++a) {
        const std::string_view opt(argv[a]);
        if (opt == "--") {
            ++a;
            break;
        }
        if (a + 1 >= argc)
            break;
        if (opt == "--repeat")
            repeat = std::atoi(argv[++a]);
        else if (opt == "--rm")
            removeFirst = argv[++a];
        else if (opt == "--status")
            expected = std::atoi(argv[++a]);
        else
            break;
    }
    if (a >= argc || repeat < 1) {
        std::fprintf(stderr, "usage: morvane-timer [--repeat K] [--rm FILE] [--status S] -- command [args...]\n");
        return 2;
    }

    std::vector<double> times, cpu;
    long maxRss = 0;
    for (int k = 0; k < repeat; ++k) {
        if (removeFirst != nullptr)
            std::remove(removeFirst);
        const double start = now();
        const pid_t pid = fork();
        if (pid < 0) {
            std::perror("morvane-timer: fork");
            return 2;
        }
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execvp(argv[a], argv + a);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) != pid) {
            std::perror("morvane-timer: wait4");
            return 2;
        }
        times.push_back(now() - start);
        cpu.push_back(seconds(usage.ru_utime) + seconds(usage.ru_stime));
        maxRss = std::max(maxRss, usage.ru_maxrss);
        const int code = WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : -1000;
        if (!WIFEXITED(status) || code != expected) {
            std::fprintf(stderr, "morvane-timer: %s exited with status %d, expected %d\n", argv[a], code, expected);
            return 1;
        }
    }
    std::printf("median_s=%.4f min_s=%.4f max_s=%.4f cpu_s=%.4f runs=%zu maxrss_kib=%ld\n", median(times),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
                median(cpu), times.size(), maxRss);
    return 0;
}
