// Files and processes for the tests: temporary directories, whole-file
// reads and writes, and running the real Morvane executable.
#ifndef TESTS_SUPPORT_TEST_FILES_H
#define TESTS_SUPPORT_TEST_FILES_H

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "morvane-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void writeFile(const std::string &path, const std::string &bytes)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        throw std::runtime_error("cannot write " + path);
    const size_t put = std::fwrite(bytes.data(), 1, bytes.size(), f);
    if (std::fclose(f) != 0 || put != bytes.size())
        throw std::runtime_error("cannot write " + path);
}

// Everything from f's position to its end.
inline std::string readRest(std::FILE *f)
{
    std::string out;
    char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, got);
    return out;
}

inline std::string readFile(const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        throw std::runtime_error("cannot read " + path);
    std::string out = readRest(f);
    std::fclose(f);
    return out;
}

inline bool fileExists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

struct RunResult {
    int status = -1;  // exit status as the shell sees it (255 for -1); kTimedOut if killed
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
    long peakKiB = 0;  // the child's peak resident memory
};

constexpr int kTimedOut = -2;

// How a child runs: in directory cwd; killed and reported as kTimedOut once
// it has run for timeLimit (zero: no limit); as user asUser, dropping root
// first (zero: as we are); with beforeExec called in the child just before
// the program starts.
struct RunOptions {
    std::string cwd = ".";
    std::chrono::milliseconds timeLimit{0};
    uid_t asUser = 0;
    void (*beforeExec)() = nullptr;
};

inline RunResult runProgram(const std::string &exe, const std::vector<std::string> &args, const RunOptions &options)
{
    char outName[] = "/tmp/morvane-stdout-XXXXXX";
    char errName[] = "/tmp/morvane-stderr-XXXXXX";
    const int outFd = ::mkstemp(outName);
    const int errFd = ::mkstemp(errName);
    if (outFd < 0 || errFd < 0)
        throw std::runtime_error("mkstemp failed");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        const uid_t user = options.asUser;
        if (user != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0))
            ::_exit(126);
        if (::chdir(options.cwd.c_str()) != 0)
            ::_exit(127);
        if (options.beforeExec != nullptr)
            options.beforeExec();
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(exe.c_str()));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    RunResult r;
    int wstatus = 0;
    bool hung = false;
    rusage usage{};
    const auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
    if (options.timeLimit.count() == 0) {
        ::wait4(pid, &wstatus, 0, &usage);
    } else {
        while (::wait4(pid, &wstatus, WNOHANG, &usage) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                hung = true;
                ::kill(pid, SIGKILL);
                ::wait4(pid, &wstatus, 0, &usage);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    r.peakKiB = usage.ru_maxrss;
    r.status = hung ? kTimedOut : WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    ::close(outFd);
    ::close(errFd);
    r.out = readFile(outName);
    r.err = readFile(errName);
    ::unlink(outName);
    ::unlink(errName);
    return r;
}

#ifdef MORVANE_EXE
inline RunResult runMorvane(const std::vector<std::string> &args, const std::string &cwd = ".")
{
    RunOptions options;
    options.cwd = cwd;
    return runProgram(MORVANE_EXE, args, options);
}
#endif

// The elapsed-time line varies from run to run; tests compare the rest.
inline std::string maskTiming(const std::string &out)
{
    static const std::regex kTiming("Completed in [0-9]+\\.[0-9]{3} seconds");
    return std::regex_replace(out, kTiming, "Completed in T seconds");
}

}  // namespace test_support

#endif
