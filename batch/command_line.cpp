#include "command_line.h"

#include "lidar/internal/numeric_argument.h"

#include <charconv>
#include <cstdlib>
#include <vector>

namespace batch {

namespace {

template <typename T>
bool positiveNumber(std::string_view text, T &value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value > 0;
}

bool parseShare(std::string_view text, Options &o)
{
    const size_t slash = text.find('/');
    uint32_t k = 0, n = 0;
    if (slash == std::string_view::npos || !positiveNumber(text.substr(0, slash), k) ||
        !positiveNumber(text.substr(slash + 1), n) || k > n)
        return false;
    o.shareIndex = k - 1;
    o.shareCount = n;
    return true;
}

// A limit, judged by the library's rule as Morvane judges it, except that
// an empty one (an unset shell variable) is refused here.
std::string limitError(const char *which, const std::string &text)
{
    if (text.empty())
        return std::string(which) + " is empty";
    if (!lidar::is_numeric_argument(text))
        return "invalid " + std::string(which) + " (" + text + ")";
    return {};
}

// An argument that starts with a dash but is a number (a negative limit).
bool looksNumeric(std::string_view arg)
{
    return arg.size() > 1 && ((arg[1] >= '0' && arg[1] <= '9') || arg[1] == '.');
}

}  // namespace

std::string_view usageLine()
{
    return "Usage: morvane-batch [OPTIONS] RASTER TILES OUTDIR MIN MAX\n";
}

std::string_view helpText()
{
    return "Usage: morvane-batch [OPTIONS] RASTER TILES OUTDIR MIN MAX\n"
           "       morvane-batch --summary OUTDIR\n"
           "Runs Morvane RASTER TILES/<path> OUTDIR/<path> MIN MAX once per tile, a process each.\n"
           "\n"
#ifdef MORVANE_WITH_GDAL
           "  RASTER         the elevation raster (.asc, or .flt with its .hdr), or any\n"
           "                 single-band raster GDAL reads (GeoTIFF, VRT), prepared once\n"
           "                 as OUTDIR/<name>.flt\n"
#else
           "  RASTER         the elevation raster (.asc, or .flt with its .hdr)\n"
#endif
           "  TILES          a folder searched for *.las in any letter case, or a file listing\n"
           "                 tile paths one per line (- for standard input)\n"
           "  OUTDIR         outputs, logs (<output>.log), records and summary.csv\n"
           "  MIN MAX        the window relative to the raster, as Morvane takes it\n"
           "\n"
           "  -j, --jobs N       tiles at once (default: the processors this process may use)\n"
           "      --shard K/N    only share K of N (stable by tile path, for many machines)\n"
           "      --force        run every tile again, done or not\n"
           "      --summary      run nothing: write OUTDIR/summary.csv and print the totals\n"
           "  -q, --quiet        no progress line, no closing line, no prepared-raster line\n"
           "      --morvane PATH the Morvane to run (default: the one beside this program)\n"
           "      --help         this text\n"
           "      --version      the version\n"
           "\n"
           "Exit status: 0 every tile kept points or none; 1 a tile failed or was killed;\n"
           "2 usage error, nothing run; 128+n interrupted by signal n (rerun to resume).\n";
}

CommandLine parseCommandLine(int argc, const char *const *argv)
{
    CommandLine cl;
    Options &o = cl.options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    const auto fail = [&cl](std::string error) {
        cl.request = Request::UsageError;
        cl.error = std::move(error);
        return cl;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || looksNumeric(arg)) {
            positional.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // The value of an option: "--jobs=4", "-j4", or the next argument.
        std::string_view name = arg, value;
        bool hasValue = false;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        } else if (arg.starts_with("-j") && arg.size() > 2) {
            name = "-j";
            value = arg.substr(2);
            hasValue = true;
        }
        const auto takeValue = [&]() {
            if (!hasValue && i + 1 < argc) {
                value = argv[++i];
                hasValue = true;
            }
            return hasValue;
        };
        if (name == "--help")
            cl.request = Request::Help;
        else if (name == "--version")
            cl.request = cl.request == Request::Help ? Request::Help : Request::Version;
        else if (name == "-j" || name == "--jobs") {
            if (!takeValue() || !positiveNumber(value, o.jobs))
                return fail("-j needs a number of tiles at once, 1 or more");
        } else if (name == "--shard") {
            if (!takeValue() || !parseShare(value, o))
                return fail("--shard needs K/N with 1 <= K <= N");
        } else if (name == "--morvane") {
            if (!takeValue() || value.empty())
                return fail("--morvane needs the path of Morvane");
            o.morvane = value;
        } else if (name == "--force" && !hasValue)
            o.force = true;
        else if (name == "--summary" && !hasValue)
            o.summaryOnly = true;
        else if ((name == "-q" || name == "--quiet") && !hasValue)
            o.quiet = true;
        else
            return fail("unknown option " + std::string(arg));
    }
    if (cl.request == Request::Help || cl.request == Request::Version)
        return cl;
    if (o.summaryOnly && positional.size() == 1) {
        o.outdir = positional[0];
        cl.request = Request::Run;
        return cl;
    }
    if (positional.size() != 5)
        return fail(positional.size() < 5 ? "missing arguments: RASTER TILES OUTDIR MIN MAX"
                                          : "too many arguments: RASTER TILES OUTDIR MIN MAX");
    o.raster = positional[0];
    o.tiles = positional[1];
    o.outdir = positional[2];
    o.low = positional[3];
    o.high = positional[4];
    if (o.summaryOnly) {
        cl.request = Request::Run;
        return cl;
    }
    if (const std::string error = limitError("MIN", o.low); !error.empty())
        return fail(error);
    if (const std::string error = limitError("MAX", o.high); !error.empty())
        return fail(error);
    if (std::atof(o.low.c_str()) >= std::atof(o.high.c_str()))
        return fail("MAX (" + o.high + ") must be greater than MIN (" + o.low + ")");
    for (const std::string *path : {&o.raster, &o.tiles, &o.outdir})
        if (path->empty())
            return fail("an empty path among RASTER TILES OUTDIR");
    cl.request = Request::Run;
    return cl;
}

}  // namespace batch
