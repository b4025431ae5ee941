// The tiles of a batch: found under a folder or read from a list, each with
// its path relative to the tiles' folder (the key of its output, its log,
// its record and its share), sorted by that path.
#ifndef BATCH_TILE_LIST_H
#define BATCH_TILE_LIST_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace batch {

struct Tile {
    std::string rel;     // relative to TILES: what the summary and the share go by
    std::string path;    // the file itself, as Morvane is given it
    std::string output;  // rel with its extension written .las
};

struct TileList {
    std::vector<Tile> tiles;  // sorted by rel, byte by byte
    std::string error;        // why there is no list; empty when there is one
};

// A folder that the search does not enter (the output folder, when it lies
// among the tiles).
struct FolderId {
    dev_t device;
    ino_t inode;
};

// Whether a name ends in ".las" in any letter case.
bool hasLasExtension(std::string_view name);
// The name with its last four characters written ".las".
std::string lasOutputName(std::string_view rel);

// TILES as given: a folder, searched recursively (links to files are tiles,
// links to folders are not followed), "-" for a list on standard input, or
// a list file. Two tiles with one output name are refused.
TileList findTiles(const std::string &tilesArgument, std::optional<FolderId> skip);

// The lines of a list: one path each, empty lines skipped; a path is its own
// rel, leading "/" and "./" and inner "." left out, and may not climb with "..".
TileList parseTileList(std::string_view text);

// FNV-1a, 64 bits: a stable function of the bytes alone.
uint64_t fnv1a64(std::string_view bytes);

// Share `index` (0-based) of `count`: where the rel's hash falls.
bool inShare(std::string_view rel, uint32_t index, uint32_t count);

}  // namespace batch

#endif
