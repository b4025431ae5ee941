// The whole run through morvaneMain, as main performs it, on a fuzzed LAS
// file, raster and pair of limits.
//
// Input, split at the separator:
//   limits | LAS bytes | .asc text                 (three parts)
//   limits | LAS bytes | .hdr text | .flt data     (four parts)
// The limits part holds the two limit arguments separated by white space.
//
// Whatever the input: the input and raster files are left as they were;
// status 0 leaves an output whose header counts exactly its records, each
// an input record in input order; status 1 and failures leave no output
// (a failure before the output was opened leaves the old one untouched).
#include "fuzz_support.h"
#include "little_endian.h"
#include "run/command_line.h"
#include "run/run.h"

#include <filesystem>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace morvane;

namespace {

constexpr std::string_view kOldOutput = "output of an earlier run";

std::vector<std::string> limitArguments(std::string_view text)
{
    std::vector<std::string> out;
    size_t k = 0;
    while (out.size() < 2) {
        while (k < text.size() && (text[k] == ' ' || text[k] == '\n' || text[k] == '\t'))
            ++k;
        const size_t start = k;
        while (k < text.size() && text[k] != ' ' && text[k] != '\n' && text[k] != '\t' && text[k] != '\0')
            ++k;
        out.emplace_back(text.substr(start, k - start));
        if (k < text.size() && text[k] == '\0')
            k = text.size();  // an argument ends at a NUL byte
    }
    return out;
}

// The output of a successful run: header count equals its records, each of
// them an input record, in input order.
void checkOutput(const std::string &input, const std::string &output)
{
    FUZZ_CHECK(input.size() >= 227 && output.size() >= 227);
    const uint32_t offset = test_support::getLE<uint32_t>(input, 96);
    const size_t len = test_support::getLE<uint16_t>(input, 105);
    const uint32_t declared = test_support::getLE<uint32_t>(input, 107);
    FUZZ_CHECK(test_support::getLE<uint32_t>(output, 96) == offset && test_support::getLE<uint16_t>(output, 105) == len);
    const uint32_t count = test_support::getLE<uint32_t>(output, 107);
    FUZZ_CHECK(count >= 1 && count <= declared);
    FUZZ_CHECK(output.size() == offset + uint64_t{count} * len);
    FUZZ_CHECK(input.size() >= offset + uint64_t{declared} * len);

    size_t next = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const std::string_view rec(output.data() + offset + k * len, len);
        while (next < declared && std::string_view(input.data() + offset + next * len, len) != rec)
            ++next;
        FUZZ_CHECK(next < declared);
        ++next;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto parts = fuzz::split(std::string_view(reinterpret_cast<const char *>(data), size), 4);
    if (parts.size() < 3)
        return 0;
    const bool floatGrid = parts.size() == 4;
    const std::string las = fuzz::scratchPath("in.las");
    const std::string out = fuzz::scratchPath("out.las");
    const std::string asc = fuzz::scratchPath("grid.asc");
    const std::string hdr = fuzz::scratchPath("grid.hdr");
    const std::string flt = fuzz::scratchPath("grid.flt");
    fuzz::removeFile(asc);
    fuzz::removeFile(hdr);
    fuzz::removeFile(flt);
    fuzz::writeFile(las, parts[1]);
    fuzz::writeFile(out, kOldOutput);
    if (floatGrid) {
        fuzz::writeFile(hdr, parts[2]);
        fuzz::writeFile(flt, parts[3]);
    } else {
        fuzz::writeFile(asc, parts[2]);
    }

    std::vector<std::string> args = {"Morvane", floatGrid ? flt : asc, las, out};
    for (std::string &limit : limitArguments(parts[0]))
        args.push_back(std::move(limit));
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int status;
    try {
        status = morvaneMain(static_cast<int>(args.size()), argv.data());
    } catch (const lidar::ExitRequest &e) {
        status = e.status;  // an exit inside the library's checks
    }

    std::string bytes;
    FUZZ_CHECK(fuzz::readFile(las, bytes) && bytes == parts[1]);
    if (floatGrid) {
        FUZZ_CHECK(fuzz::readFile(hdr, bytes) && bytes == parts[2]);
        FUZZ_CHECK(fuzz::readFile(flt, bytes) && bytes == parts[3]);
    } else {
        FUZZ_CHECK(fuzz::readFile(asc, bytes) && bytes == parts[2]);
    }

    // Never a temporary file left beside the output.
    for (const auto &entry : std::filesystem::directory_iterator(fuzz::scratchDir()))
        FUZZ_CHECK(entry.path().filename().string().find(".morvane-partial-") == std::string::npos);
    const bool haveOutput = fuzz::readFile(out, bytes);
    switch (status) {
    case 0:
        FUZZ_CHECK(haveOutput);
        checkOutput(std::string(parts[1]), bytes);
        break;
    case 1: FUZZ_CHECK(!haveOutput); break;
    case -1: FUZZ_CHECK(!haveOutput || bytes == kOldOutput); break;
    default: FUZZ_CHECK(false && "unexpected exit status");
    }
    return 0;
}
