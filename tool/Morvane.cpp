// Morvane: keep the points of a LAS file whose elevation lies in a window
// relative to an elevation raster.
#include "run/run.h"

int main(int argc, char **argv)
{
    return morvane::morvaneMain(argc, argv);
}
