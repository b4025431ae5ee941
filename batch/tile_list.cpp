#include "tile_list.h"

#include "file_system.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace batch {

namespace {

struct DirCloser {
    void operator()(DIR *d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Walks one folder and those below it, appending tiles; false with the
// error set when a folder cannot be read, so that no tile goes missing
// unnoticed.
bool walk(const std::string &folder, const std::string &relFolder, std::optional<FolderId> skip, TileList &list)
{
    DirPtr dir(::opendir(folder.c_str()));
    if (!dir) {
        list.error = "cannot read folder " + folder + ": " + errorText(errno);
        return false;
    }
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    errno = 0;
    while (const dirent *entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // gone since it was listed
        if (S_ISDIR(st.st_mode)) {
            if (!skip || st.st_dev != skip->device || st.st_ino != skip->inode)
                entries.emplace_back(name, true);
        } else if (hasLasExtension(name)) {
            if (S_ISLNK(st.st_mode) && ::fstatat(::dirfd(dir.get()), entry->d_name, &st, 0) != 0)
                continue;  // a dangling link
            if (S_ISREG(st.st_mode))
                entries.emplace_back(name, false);
        }
        errno = 0;
    }
    if (errno != 0) {
        list.error = "cannot read folder " + folder + ": " + errorText(errno);
        return false;
    }
    for (const auto &[name, isFolder] : entries) {
        const std::string rel = relFolder.empty() ? name : relFolder + "/" + name;
        if (isFolder) {
            if (!walk(joinPath(folder, name), rel, skip, list))
                return false;
        } else {
            list.tiles.push_back({rel, joinPath(folder, name), lasOutputName(rel)});
        }
    }
    return true;
}

// The rel of a listed path, or nothing when it climbs out with "..".
std::optional<std::string> listedRel(std::string_view path)
{
    std::string rel;
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return std::nullopt;
        if (!rel.empty())
            rel += '/';
        rel += part;
    }
    return rel;
}

// Sorts by rel; refuses two tiles of one output.
void finish(TileList &list)
{
    std::sort(list.tiles.begin(), list.tiles.end(), [](const Tile &a, const Tile &b) { return a.rel < b.rel; });
    list.tiles.erase(
        std::unique(list.tiles.begin(), list.tiles.end(), [](const Tile &a, const Tile &b) { return a.rel == b.rel; }),
        list.tiles.end());
    std::vector<const Tile *> byOutput;
    for (const Tile &t : list.tiles)
        byOutput.push_back(&t);
    std::stable_sort(byOutput.begin(), byOutput.end(),
                     [](const Tile *a, const Tile *b) { return a->output < b->output; });
    for (size_t i = 1; i < byOutput.size(); ++i)
        if (byOutput[i - 1]->output == byOutput[i]->output) {
            list.error = "tiles " + byOutput[i - 1]->rel + " and " + byOutput[i]->rel + " would both write " +
                         byOutput[i]->output + "; rename one";
            list.tiles.clear();
            return;
        }
}

}  // namespace

bool hasLasExtension(std::string_view name)
{
    if (name.size() < 4 || name[name.size() - 4] != '.')
        return false;
    const std::string_view ext = name.substr(name.size() - 3);
    return (ext[0] | 0x20) == 'l' && (ext[1] | 0x20) == 'a' && (ext[2] | 0x20) == 's';
}

std::string lasOutputName(std::string_view rel)
{
    return std::string(rel.substr(0, rel.size() - 4)) + ".las";
}

TileList parseTileList(std::string_view text)
{
    TileList list;
    size_t lineNumber = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (line.empty())
            continue;
        const std::optional<std::string> rel = listedRel(line);
        const std::string where = "line " + std::to_string(lineNumber) + " of the tile list (" + std::string(line) +
                                  ")";
        if (!rel || !hasLasExtension(*rel))
            return {{}, where + (rel ? " does not end in .las" : " climbs above its folder with ..")};
        list.tiles.push_back({*rel, std::string(line), lasOutputName(*rel)});
    }
    finish(list);
    return list;
}

TileList findTiles(const std::string &tilesArgument, std::optional<FolderId> skip)
{
    TileList list;
    int error = 0;
    if (tilesArgument == "-") {
        const std::optional<std::string> text = readAll(STDIN_FILENO, &error);
        if (!text)
            list.error = "cannot read the tile list from standard input: " + errorText(error);
        return text ? parseTileList(*text) : list;
    }
    struct stat st {};
    if (::stat(tilesArgument.c_str(), &st) != 0) {
        list.error = "cannot read " + tilesArgument + ": " + errorText(errno);
        return list;
    }
    if (!S_ISDIR(st.st_mode)) {
        const UniqueFd fd(openRetry(tilesArgument.c_str(), O_RDONLY));  // a pipe as <(find ...) is welcome
        std::optional<std::string> text;
        if (!fd || !(text = readAll(fd.get(), &error))) {
            list.error = "cannot read the tile list " + tilesArgument + ": " + errorText(fd ? error : errno);
            return list;
        }
        return parseTileList(*text);
    }
    if (walk(tilesArgument, "", skip, list))
        finish(list);
    else
        list.tiles.clear();
    return list;
}

uint64_t fnv1a64(std::string_view bytes)
{
    uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

bool inShare(std::string_view rel, uint32_t index, uint32_t count)
{
    return fnv1a64(rel) % count == index;
}

}  // namespace batch
