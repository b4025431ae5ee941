#include "lidar/internal/process_exit.h"

#include <cstdio>
#include <cstdlib>

namespace lidar {

void process_exit(int status)
{
    std::fflush(stdout);
#ifdef LIDAR_EXIT_THROWS
    throw ExitRequest{status};
#else
    std::exit(status);
#endif
}

}  // namespace lidar
