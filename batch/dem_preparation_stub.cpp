// The build without GDAL: a raster Morvane does not read itself is refused
// with the conversion to run first.
#include "dem_preparation.h"

#include "prepared_grid.h"

namespace batch {

std::string demRefusal(const std::string &raster)
{
    return withoutGdalMessage(raster);
}

PreparedDem prepareDem(const std::string &raster, const std::string &, const std::string &)
{
    PreparedDem p;
    p.error = withoutGdalMessage(raster);
    return p;
}

}  // namespace batch
