# The product's sources, listed once for the main build and the fuzz build.
# MORVANE_ROOT is the source tree's top directory.

set(MORVANE_LIDAR_SOURCES
  ${MORVANE_ROOT}/lidar/file_handle.cpp
  ${MORVANE_ROOT}/lidar/process_exit.cpp
  ${MORVANE_ROOT}/lidar/header_read.cpp
  ${MORVANE_ROOT}/lidar/validate.cpp
  ${MORVANE_ROOT}/lidar/update_header.cpp
  ${MORVANE_ROOT}/lidar/init_header.cpp
  ${MORVANE_ROOT}/lidar/arg_checks.cpp
  ${MORVANE_ROOT}/lidar/sort.cpp
)

# The tool without main(). The AVX-512 kernel exists only on x86-64;
# elsewhere a stand-in reports it unavailable and the portable kernel serves.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(MORVANE_VECTOR_KERNEL ${MORVANE_ROOT}/tool/record_selection_avx512.cpp)
else()
  set(MORVANE_VECTOR_KERNEL ${MORVANE_ROOT}/tool/record_selection_vector_none.cpp)
endif()
set(MORVANE_TOOL_SOURCES
  ${MORVANE_ROOT}/tool/ascii_grid.cpp
  ${MORVANE_ROOT}/tool/command_line.cpp
  ${MORVANE_ROOT}/tool/float_grid.cpp
  ${MORVANE_ROOT}/tool/header_entries.cpp
  ${MORVANE_ROOT}/tool/header_keywords.cpp
  ${MORVANE_ROOT}/tool/numeric_text.cpp
  ${MORVANE_ROOT}/tool/output_file.cpp
  ${MORVANE_ROOT}/tool/path_checks.cpp
  ${MORVANE_ROOT}/tool/point_filter.cpp
  ${MORVANE_ROOT}/tool/raster.cpp
  ${MORVANE_ROOT}/tool/raster_header.cpp
  ${MORVANE_ROOT}/tool/raster_window.cpp
  ${MORVANE_ROOT}/tool/record_selection.cpp
  ${MORVANE_VECTOR_KERNEL}
  ${MORVANE_ROOT}/tool/run.cpp
  ${MORVANE_ROOT}/tool/signals.cpp
  ${MORVANE_ROOT}/tool/tally_report.cpp
  ${MORVANE_ROOT}/tool/text_reader.cpp
)
