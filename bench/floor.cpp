// morvane-floor: the I/O a selection cannot avoid, and nothing else. Reads
// every input once in large blocks; while it reads the last input (the LAS
// file) it writes <bytes> bytes to <output> in step with its progress, so
// that reading and writing interleave as in a real run. The bytes written
// are taken from the block just read: only their count matters.
//   morvane-floor [--block BYTES] <output> <bytes> <input>...
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void die(const char *what, const char *name)
{
    std::fprintf(stderr, "morvane-floor: %s %s: %s\n", what, name, std::strerror(errno));
    std::exit(2);
}

void writeAll(int fd, const char *data, size_t size, const char *name)
{
    while (size != 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            die("cannot write", name);
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    int a = 1;
    size_t block = size_t{1} << 20;
    if (a + 1 < argc && std::string_view(argv[a]) == "--block") {
        block = std::strtoull(argv[a + 1], nullptr, 10);
        a += 2;
    }
    if (argc - a < 3 || block == 0) {
        std::fprintf(stderr, "usage: morvane-floor [--block BYTES] <output> <bytes> <input>...\n");
        return 2;
    }
    const char *outName = argv[a];
    const unsigned long long total = std::strtoull(argv[a + 1], nullptr, 10);
    const int firstInput = a + 2;

    const int out = ::open(outName, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0)
        die("cannot create", outName);
    std::vector<char> buf(block);
    unsigned long long written = 0;
    for (int i = firstInput; i < argc; ++i) {
        const int in = ::open(argv[i], O_RDONLY);
        struct stat st {};
        if (in < 0 || ::fstat(in, &st) != 0)
            die("cannot open", argv[i]);
        const bool last = i + 1 == argc;
        const auto size = static_cast<unsigned long long>(st.st_size);
        unsigned long long done = 0;
        for (;;) {
            const ssize_t n = ::read(in, buf.data(), block);
            if (n < 0)
                die("cannot read", argv[i]);
            if (n == 0)
                break;
            done += static_cast<unsigned long long>(n);
            if (last) {
                // Keep the output's share in step with the input read so far.
                const unsigned long long due = size != 0 ? total * done / size : total;
                for (; written < due;) {
                    const size_t chunk = static_cast<size_t>(std::min<unsigned long long>(due - written, block));
                    writeAll(out, buf.data(), chunk, outName);
                    written += chunk;
                }
            }
        }
        ::close(in);
    }
    // An input shorter than announced still leaves an output of full size.
    for (; written < total;) {
        const size_t chunk = static_cast<size_t>(std::min<unsigned long long>(total - written, block));
        writeAll(out, buf.data(), chunk, outName);
        written += chunk;
    }
    if (::close(out) != 0)
        die("cannot close", outName);
    return 0;
}
