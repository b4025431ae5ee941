// A raster Morvane does not read itself, read through GDAL and prepared
// once as a binary float grid under OUTDIR (see prepared_grid.h). A build
// without GDAL refuses such a raster with the conversion to run first.
#ifndef BATCH_DEM_PREPARATION_H
#define BATCH_DEM_PREPARATION_H

#include "file_system.h"

#include <string>

namespace batch {

// Opens the raster and judges its shape: empty when it can be prepared,
// otherwise why not and what to run instead.
std::string demRefusal(const std::string &raster);

struct PreparedDem {
    std::string grid;     // the .flt Morvane is given
    FileStamp gridStamp;  // what the tiles' records keep of it
    bool reused = false;  // an earlier batch prepared it from the same files
    std::string error;    // why there is none; empty when there is one
};

// The prepared grid of the raster under outdir: the one there when its
// record says it was made from the raster's files as they are now,
// otherwise a new one, written under temporaryFolder (a folder of outdir)
// and renamed into place, the record last. Several batches may prepare one
// raster at once: each writes the same bytes with the same modification
// time. A failure leaves no record, so nothing a later batch would use.
PreparedDem prepareDem(const std::string &raster, const std::string &outdir, const std::string &temporaryFolder);

}  // namespace batch

#endif
