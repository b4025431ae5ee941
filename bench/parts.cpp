// morvane-parts: parts of a run, and the library's sort, timed on their own
// through the product's own code, each as the median of K repetitions.
//
//   morvane-parts grid <grid.asc> <grid.flt> K
//     Loads the grid with the product's loader (readRaster) from the .asc
//     and from the .flt, and with the fscanf("%f") loop from the .asc, and
//     reads the .flt plainly (1 MiB blocks into one buffer) as its floor;
//     then checks that all three grids hold bit-identical values. Exits 1
//     if not.
//   morvane-parts refresh <file.las> K
//     Times the header refresh (update_header) of a LAS file against a
//     plain read of the same file in 1 MiB blocks.
//   morvane-parts select <grid> <file.las> <low> <high> K
//     Times the record classification alone, portable and vector kernels,
//     over the LAS file's records held in memory and handed over in 1 MiB
//     blocks as the record loop reads them; each block is first copied to
//     the work buffer, and that copy is timed on its own. Exits 1 if the
//     kernels disagree.
//   morvane-parts sort N K
//     Times the library's key-and-index sort (l_quicksort, d_quicksort) on
//     N random keys, the baseline, and on the layouts that defeat its middle
//     pivot: organ pipe, organ pipe with ties (every key twice a slope),
//     sawtooth. Exits 1 unless every result is sorted with its companions.
//
// Prints "name value" lines on standard output; the product's own console
// text is discarded.
#include "LiDAR.h"
#include "raster/raster.h"
#include "select/kernels.h"
#include "stdio_grid.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace morvane;

namespace {

std::FILE *report = stdout;

double seconds(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> t)
{
    std::sort(t.begin(), t.end());
    const size_t n = t.size();
    return n % 2 == 1 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
}

// Times each piece of work repeat times, the pieces taking turns so that a
// change in the machine's load touches them alike; the medians, in order.
std::vector<double> medianSeconds(int repeat, const std::vector<std::function<void()>> &works)
{
    std::vector<std::vector<double>> t(works.size());
    for (int k = 0; k < repeat; ++k)
        for (size_t i = 0; i < works.size(); ++i)
            t[i].push_back(seconds(works[i]));
    std::vector<double> medians;
    for (const std::vector<double> &times : t)
        medians.push_back(median(times));
    return medians;
}

Raster productLoad(const std::string &name)
{
    Raster r = readRaster(name.c_str());
    std::fflush(stdout);
    return r;
}

// Bitwise comparison of the product's grid with the fscanf one.
bool sameBits(const Raster &r, const StdioGrid &g)
{
    if (r.grid().rows != g.rows || r.grid().cols != g.cols)
        return false;
    for (int32_t row = 0; row < g.rows; ++row)
        for (int32_t col = 0; col < g.cols; ++col)
            if (std::memcmp(&r.cells[static_cast<size_t>(g.rows - 1 - row) * static_cast<size_t>(g.cols) +
                                     static_cast<size_t>(col)],
                            g.row(row) + col, sizeof(float)) != 0)
                return false;
    return true;
}

// A file read once in 1 MiB blocks into one buffer: what loading it must
// at least cost.
void plainRead(const std::string &name)
{
    static std::vector<char> buf(size_t{1} << 20);
    const int fd = ::open(name.c_str(), O_RDONLY);
    while (fd >= 0 && ::read(fd, buf.data(), buf.size()) > 0) {
    }
    if (fd >= 0)
        ::close(fd);
}

int grid(const std::string &asc, const std::string &flt, int repeat)
{
    StdioGrid reference;
    bool loaded = true;
    const std::vector<double> t = medianSeconds(repeat, {
                                                            [&] { productLoad(asc); },
                                                            [&] { productLoad(flt); },
                                                            [&] {
                                                                reference = StdioGrid();
                                                                loaded = loadStdioGrid(asc, reference) && loaded;
                                                            },
                                                            [&] { plainRead(flt); },
                                                        });
    const double ascSeconds = t[0], fltSeconds = t[1], fscanfSeconds = t[2], readSeconds = t[3];
    if (!loaded) {
        std::fprintf(report, "grid_error cannot load %s with fscanf\n", asc.c_str());
        return 1;
    }
    const bool ascSame = sameBits(productLoad(asc), reference);
    const bool fltSame = sameBits(productLoad(flt), reference);

    std::fprintf(report, "grid_cells %lld\n", static_cast<long long>(reference.cells.size()));
    std::fprintf(report, "grid_asc_load_s %.4f\n", ascSeconds);
    std::fprintf(report, "grid_flt_load_s %.4f\n", fltSeconds);
    std::fprintf(report, "grid_fscanf_load_s %.4f\n", fscanfSeconds);
    std::fprintf(report, "grid_flt_read_s %.4f\n", readSeconds);
    std::fprintf(report, "grid_asc_identical %s\n", ascSame ? "yes" : "no");
    std::fprintf(report, "grid_flt_identical %s\n", fltSame ? "yes" : "no");
    return ascSame && fltSame ? 0 : 1;
}

int refresh(const std::string &las, int repeat)
{
    std::vector<char> buf(size_t{1} << 20);
    const std::vector<double> t = medianSeconds(repeat,
                                                {
                                                    [&] {
                                                        update_header(las.c_str());
                                                        std::fflush(stdout);
                                                    },
                                                    [&] {
                                                        const int fd = ::open(las.c_str(), O_RDONLY);
                                                        while (fd >= 0 && ::read(fd, buf.data(), buf.size()) > 0) {
                                                        }
                                                        if (fd >= 0)
                                                            ::close(fd);
                                                    },
                                                });
    const double refreshSeconds = t[0], readSeconds = t[1];
    std::fprintf(report, "refresh_s %.4f\n", refreshSeconds);
    std::fprintf(report, "refresh_read_s %.4f\n", readSeconds);
    return 0;
}

std::vector<uint8_t> readWhole(const std::string &name)
{
    std::vector<uint8_t> bytes;
    std::FILE *f = std::fopen(name.c_str(), "rb");
    if (f == nullptr)
        return bytes;
    std::vector<uint8_t> block(size_t{1} << 20);
    size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), f)) != 0)
        bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<long>(got));
    std::fclose(f);
    return bytes;
}

int select(const std::string &grid, const std::string &las, double low, double high, int repeat)
{
    const std::vector<uint8_t> file = readWhole(las);
    LAS12Header header{};
    if (file.size() < sizeof header) {
        std::fprintf(report, "select_error cannot read %s\n", las.c_str());
        return 1;
    }
    std::memcpy(&header, file.data(), sizeof header);
    const size_t len = header.PointDataRecordLength;
    const size_t n = std::min<size_t>(header.NumberOfPointReturns, (file.size() - header.OffsetToData) / len);
    const uint8_t *records = file.data() + header.OffsetToData;
    const Raster raster = productLoad(grid);
    const SelectionContext c(header, raster, {low, high});

    const size_t perBlock = (size_t{1} << 20) / len;
    std::vector<uint8_t> work(perBlock * len);
    // Hands every block to the kernel (none: only the block copies) and,
    // when asked, folds the selected bytes into a checksum so that the
    // kernels can be compared; the timed passes do not ask.
    const auto overBlocks = [&](Kernel kernel, Tally &tally, uint64_t *checksum) {
        for (size_t done = 0; done < n; done += perBlock) {
            const size_t count = std::min(perBlock, n - done);
            std::memcpy(work.data(), records + done * len, count * len);
            if (kernel == nullptr)
                continue;
            const size_t kept =
                static_cast<size_t>(kernel(work.data(), work.data(), count, len, c, tally).keptEnd - work.data()) / len;
            tally.selected += static_cast<uint32_t>(kept);
            for (size_t i = 0; checksum != nullptr && i < kept * len; i += 8)
                *checksum = *checksum * 1000003u + work[i];
        }
    };
    const VectorKernel *const vectorKernel = morvane::vectorKernel();
    const bool vector = vectorKernel != nullptr;
    Tally portableTally, vectorTally, unused;
    uint64_t portableSum = 0, vectorSum = 0;
    overBlocks(selectRecordsPortable, portableTally, &portableSum);
    if (vector)
        overBlocks(vectorKernel->select, vectorTally, &vectorSum);
    const auto timed = [&](Kernel kernel) { return [&, kernel] { overBlocks(kernel, unused, nullptr); }; };
    std::vector<std::function<void()>> works = {timed(nullptr), timed(selectRecordsPortable)};
    if (vector)
        works.push_back(timed(vectorKernel->select));
    const std::vector<double> t = medianSeconds(repeat, works);

    const auto perPoint = [&](double seconds) { return (seconds - t[0]) / static_cast<double>(n) * 1e9; };
    std::fprintf(report, "select_points %zu\n", n);
    std::fprintf(report, "select_copy_s %.4f\n", t[0]);
    std::fprintf(report, "select_portable_s %.4f\n", t[1]);
    std::fprintf(report, "select_portable_ns_per_point %.2f\n", perPoint(t[1]));
    if (vector) {
        std::fprintf(report, "select_vector_s %.4f\n", t[2]);
        std::fprintf(report, "select_vector_ns_per_point %.2f\n", perPoint(t[2]));
    }
    const bool same = !vector ||
                      (portableSum == vectorSum && portableTally.selected == vectorTally.selected &&
                       portableTally.outside == vectorTally.outside && portableTally.onNodata == vectorTally.onNodata);
    std::fprintf(report, "select_vector_kernel %s\n", vector ? vectorKernel->instructions : "none");
    std::fprintf(report, "select_kernels_agree %s\n", same ? "yes" : "no");
    return same ? 0 : 1;
}

// Key layouts of the sort timings, as functions of the position i of n.
struct SortLayout {
    const char *name;
    int32_t (*key)(size_t i, size_t n);
};

int32_t organPipe(size_t i, size_t n)
{
    return static_cast<int32_t>(i < n / 2 ? i : n - 1 - i);
}

const SortLayout sortLayouts[] = {
    {"random", nullptr},  // filled from a seeded generator
    {"organ_pipe", organPipe},
    {"organ_pipe_ties", [](size_t i, size_t n) { return organPipe(i, n) / 2; }},
    {"sawtooth", [](size_t i, size_t n) { return static_cast<int32_t>(i % (n / 2)); }},
};

// Sorted keys, and each companion naming the position its key came from.
template <typename Key>
bool sortedWithCompanions(const std::vector<Key> &original, const std::vector<Key> &keys,
                          const std::vector<int32_t> &ind)
{
    std::vector<char> seen(original.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        const auto from = static_cast<size_t>(ind[k]);
        if (ind[k] < 0 || from >= original.size() || seen[from] || original[from] != keys[k])
            return false;
        seen[from] = 1;
    }
    return std::is_sorted(keys.begin(), keys.end());
}

// Sorts of one layout in one key type: each run copies the keys in afresh
// and fills the companions (a few ms at 10^6 keys, in every figure alike);
// the last run's result is checked after the timing.
template <typename Key>
struct SortRun {
    std::vector<Key> original;
    void (*sort)(Key *, int32_t, int32_t *);
    std::vector<Key> keys;
    std::vector<int32_t> ind;

    void operator()()
    {
        keys = original;
        ind.resize(original.size());
        std::iota(ind.begin(), ind.end(), 0);
        sort(keys.data(), static_cast<int32_t>(keys.size()), ind.data());
    }
    bool sorted() const { return sortedWithCompanions(original, keys, ind); }
};

int sort(size_t n, int repeat)
{
    std::vector<SortRun<int32_t>> intRuns;
    std::vector<SortRun<double>> doubleRuns;
    std::mt19937 rng(20240611);
    for (const SortLayout &layout : sortLayouts) {
        std::vector<int32_t> keys(n);
        for (size_t i = 0; i < n; ++i)
            keys[i] = layout.key != nullptr ? layout.key(i, n) : static_cast<int32_t>(rng());
        intRuns.push_back({keys, l_quicksort, {}, {}});
        doubleRuns.push_back({{keys.begin(), keys.end()}, d_quicksort, {}, {}});
    }
    std::vector<std::function<void()>> works;
    for (size_t k = 0; k < intRuns.size(); ++k) {
        works.push_back([&run = intRuns[k]] { run(); });
        works.push_back([&run = doubleRuns[k]] { run(); });
    }
    const std::vector<double> t = medianSeconds(repeat, works);
    bool ok = true;
    std::fprintf(report, "sort_keys %zu\n", n);
    for (size_t k = 0; k < intRuns.size(); ++k) {
        std::fprintf(report, "sort_int_%s_s %.4f\n", sortLayouts[k].name, t[2 * k]);
        std::fprintf(report, "sort_double_%s_s %.4f\n", sortLayouts[k].name, t[2 * k + 1]);
        ok = ok && intRuns[k].sorted() && doubleRuns[k].sorted();
    }
    std::fprintf(report, "sort_sorted %s\n", ok ? "yes" : "no");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    // The product prints its progress on standard output: keep ours apart.
    const int keep = dup(STDOUT_FILENO);
    report = fdopen(keep, "w");
    if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr)
        return 2;

    const std::string mode = argc > 1 ? argv[1] : "";
    int status = 2;
    if (mode == "grid" && argc == 5)
        status = grid(argv[2], argv[3], std::max(1, std::atoi(argv[4])));
    else if (mode == "refresh" && argc == 4)
        status = refresh(argv[2], std::max(1, std::atoi(argv[3])));
    else if (mode == "select" && argc == 7)
        status = select(argv[2], argv[3], std::atof(argv[4]), std::atof(argv[5]), std::max(1, std::atoi(argv[6])));
    else if (mode == "sort" && argc == 4)
        status = sort(static_cast<size_t>(std::max(2, std::atoi(argv[2]))), std::max(1, std::atoi(argv[3])));
    else
        std::fprintf(stderr, "usage: morvane-parts grid <grid.asc> <grid.flt> K | refresh <file.las> K |"
                             " select <grid> <file.las> <low> <high> K | sort N K\n");
    std::fclose(report);
    return status;
}
