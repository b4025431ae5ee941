# The product's sources, listed once for the main build and the fuzz build.
# MORVANE_ROOT is the source tree's top directory.

set(MORVANE_LIDAR_SOURCES
  ${MORVANE_ROOT}/lidar/internal/file_handle.cpp
  ${MORVANE_ROOT}/lidar/internal/file_mapping.cpp
  ${MORVANE_ROOT}/lidar/internal/process_exit.cpp
  ${MORVANE_ROOT}/lidar/internal/read_at.cpp
  ${MORVANE_ROOT}/lidar/internal/record_extent.cpp
  ${MORVANE_ROOT}/lidar/internal/header_read.cpp
  ${MORVANE_ROOT}/lidar/validate.cpp
  ${MORVANE_ROOT}/lidar/update_header.cpp
  ${MORVANE_ROOT}/lidar/init_header.cpp
  ${MORVANE_ROOT}/lidar/arg_checks.cpp
  ${MORVANE_ROOT}/lidar/sort.cpp
)

# The tool without main(). The vector kernels (AVX-512, AVX2) exist only on
# x86-64; elsewhere a stand-in lists none and the portable kernel serves.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(MORVANE_VECTOR_KERNELS
    ${MORVANE_ROOT}/tool/select/avx512_kernel.cpp
    ${MORVANE_ROOT}/tool/select/avx2_kernel.cpp
    ${MORVANE_ROOT}/tool/select/vector_kernels.cpp)
else()
  set(MORVANE_VECTOR_KERNELS ${MORVANE_ROOT}/tool/select/no_vector_kernel.cpp)
endif()
set(MORVANE_TOOL_SOURCES
  ${MORVANE_ROOT}/tool/run_failure.cpp
  ${MORVANE_ROOT}/tool/text/decimal_run.cpp
  ${MORVANE_ROOT}/tool/text/numeric_text.cpp
  ${MORVANE_ROOT}/tool/text/quoted_token.cpp
  ${MORVANE_ROOT}/tool/text/text_reader.cpp
  ${MORVANE_ROOT}/tool/grid_header/header_entries.cpp
  ${MORVANE_ROOT}/tool/grid_header/header_keywords.cpp
  ${MORVANE_ROOT}/tool/grid_header/grid_header.cpp
  ${MORVANE_ROOT}/tool/raster/ascii_grid.cpp
  ${MORVANE_ROOT}/tool/raster/cell_block.cpp
  ${MORVANE_ROOT}/tool/raster/cell_blocks.cpp
  ${MORVANE_ROOT}/tool/raster/cells_needed.cpp
  ${MORVANE_ROOT}/tool/raster/float_grid.cpp
  ${MORVANE_ROOT}/tool/raster/grid_file.cpp
  ${MORVANE_ROOT}/tool/raster/memory_limit.cpp
  ${MORVANE_ROOT}/tool/raster/raster.cpp
  ${MORVANE_ROOT}/tool/select/portable_kernel.cpp
  ${MORVANE_VECTOR_KERNELS}
  ${MORVANE_ROOT}/tool/select/record_loop.cpp
  ${MORVANE_ROOT}/tool/select/selection_context.cpp
  ${MORVANE_ROOT}/tool/select/tally.cpp
  ${MORVANE_ROOT}/tool/run/command_line.cpp
  ${MORVANE_ROOT}/tool/run/output_file.cpp
  ${MORVANE_ROOT}/tool/run/output_target.cpp
  ${MORVANE_ROOT}/tool/run/path_checks.cpp
  ${MORVANE_ROOT}/tool/run/run.cpp
  ${MORVANE_ROOT}/tool/run/signals.cpp
)

# morvane-batch without main(): above the library, beside the tool, sharing
# nothing with the tool. Its one GDAL file, batch/dem_preparation.cpp, or
# the stub in its place, is added where GDAL is looked for.
set(MORVANE_BATCH_SOURCES
  ${MORVANE_ROOT}/batch/batch_run.cpp
  ${MORVANE_ROOT}/batch/command_line.cpp
  ${MORVANE_ROOT}/batch/file_system.cpp
  ${MORVANE_ROOT}/batch/prepared_grid.cpp
  ${MORVANE_ROOT}/batch/process_runner.cpp
  ${MORVANE_ROOT}/batch/record.cpp
  ${MORVANE_ROOT}/batch/summary.cpp
  ${MORVANE_ROOT}/batch/tile_console.cpp
  ${MORVANE_ROOT}/batch/tile_list.cpp
)
