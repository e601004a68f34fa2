# The gpio, serial and spidev cables on their stand-ins: model time of a
# 32 KB ATmega328P Flash write and verification (fast mode) at the part's
# 1 MHz and 16 MHz clock. Run it from a Release build:
#   cmake --build build-bench --target bench_cables && build-bench/bin/bench_cables
if(TARGET cable AND TARGET portio-gpio AND TARGET standin-linux)
  add_executable(bench_cables ${CMAKE_CURRENT_LIST_DIR}/bench_cables.cpp)
  target_link_libraries(bench_cables PRIVATE cable isp benchmark::benchmark ${CMAKE_DL_LIBS})
  target_include_directories(bench_cables PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(bench_cables PRIVATE QUILLON_BIN_DIR="${QUILLON_BIN_DIR}")
  set_target_properties(bench_cables PROPERTIES AUTOMOC OFF)
  add_dependencies(bench_cables portio-gpio portio-serial standin-linux)
endif()
