// Synthetic survey: a terrain raster and a LAS point cloud over it, with
// ground, vegetation and building returns along flight lines.
#ifndef MORVANE_SAMPLE_WRITER_H
#define MORVANE_SAMPLE_WRITER_H

#include <cstdint>
#include <string>

struct SampleOptions {
    std::string dir = "sample";
    uint64_t points = 200000;
    int32_t rows = 400;
    int32_t cols = 500;
    double cellsize = 1.0;
    double minx = 512000.0;
    double miny = 4207000.0;
    int format = 1;        // point data format 0..3
    int versionMinor = 2;  // LAS 1.0, 1.1 or 1.2
    uint32_t seed = 42;
    // Along a flight line, points anywhere across the swath (false), or in
    // a scanner's order (true): sweeps across it, about a cell apart.
    bool scanOrder = false;
};

// Writes terrain.asc, terrain.flt + terrain.hdr (the same values) and
// points.las into options.dir. Returns false with a message on failure.
bool writeSample(const SampleOptions &options, std::string &error);

#endif
