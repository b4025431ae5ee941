// The process-wide elevation raster: loaded once by readRaster, read by the
// record loop, released by freeRaster.
#ifndef MORVANE_RASTER_H
#define MORVANE_RASTER_H

#include <cstdint>

// Row 0 is the southern edge: the file's first (northern) row is stored at
// _nRows - 1.
extern float **_raster;
extern int32_t _nRows;
extern int32_t _nCols;
extern float _minx;       // south-west corner
extern float _miny;
extern float _cellsize;
// The NODATA marker, kept exactly as written in single precision (a grid
// written with a fractional or exponent NODATA keeps it); NaN when the
// grid declares none, so that no cell ever matches.
extern float _NODATAval;
extern int32_t _flagASCII;  // 0 once an ASCII grid is loaded, else -1
extern int32_t _flagFLOAT;  // 0 once a binary float grid is loaded, else -1

// Loads the raster named by argv[1] (.asc, or .flt with its .hdr) and prints
// its description; any failure ends the process with status -1.
void readRaster(char **argv);
void freeRaster();

#endif
