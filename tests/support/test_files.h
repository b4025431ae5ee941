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
// the program starts; its standard output on consoleFd (-1: captured into
// RunResult::out).
struct RunOptions {
    std::string cwd = ".";
    std::chrono::milliseconds timeLimit{0};
    uid_t asUser = 0;
    void (*beforeExec)() = nullptr;
    int consoleFd = -1;
};

// The one way the tests run a program: started by the constructor, waited
// for by finish(); a child still running when its owner goes is killed.
class ChildRun {
public:
    ChildRun(const std::string &exe, const std::vector<std::string> &args, const RunOptions &options)
        : timeLimit_(options.timeLimit)
    {
        char outName[] = "/tmp/morvane-stdout-XXXXXX";
        char errName[] = "/tmp/morvane-stderr-XXXXXX";
        outFd_ = ::mkstemp(outName);
        errFd_ = ::mkstemp(errName);
        if (outFd_ < 0 || errFd_ < 0)
            throw std::runtime_error("mkstemp failed");
        outName_ = outName;
        errName_ = errName;
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(options.consoleFd >= 0 ? options.consoleFd : outFd_, 1);
            ::dup2(errFd_, 2);
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
    }
    ~ChildRun()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(outFd_);
        ::close(errFd_);
        ::unlink(outName_.c_str());
        ::unlink(errName_.c_str());
    }
    ChildRun(const ChildRun &) = delete;
    ChildRun &operator=(const ChildRun &) = delete;

    void signal(int signal) const { ::kill(pid_, signal); }
    pid_t pid() const { return pid_; }

    // Waits for the end of the run: its status (128 + n after signal n) and console.
    RunResult finish()
    {
        int wstatus = 0;
        bool hung = false;
        rusage usage{};
        const auto deadline = std::chrono::steady_clock::now() + timeLimit_;
        if (timeLimit_.count() == 0) {
            ::wait4(pid_, &wstatus, 0, &usage);
        } else {
            while (::wait4(pid_, &wstatus, WNOHANG, &usage) != pid_) {
                if (std::chrono::steady_clock::now() > deadline) {
                    hung = true;
                    ::kill(pid_, SIGKILL);
                    ::wait4(pid_, &wstatus, 0, &usage);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        pid_ = -1;
        RunResult r;
        r.peakKiB = usage.ru_maxrss;
        r.status = hung ? kTimedOut : WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        r.out = readFile(outName_);
        r.err = readFile(errName_);
        return r;
    }

private:
    std::chrono::milliseconds timeLimit_;
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::string outName_, errName_;
};

inline RunResult runProgram(const std::string &exe, const std::vector<std::string> &args, const RunOptions &options)
{
    return ChildRun(exe, args, options).finish();
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
