# The ftdi cable on a full ATmega328P through the libftdi1 stand-in, in
# model time: Quillon's batched work against the cable's floor.
#   build/bench/bin/bench_ftdi
if(TARGET ftdilink AND TARGET standin-ftdi1)
  add_executable(bench_ftdi ${CMAKE_CURRENT_LIST_DIR}/bench_ftdi.cpp)
  target_link_libraries(bench_ftdi PRIVATE ftdilink avrsim benchmark::benchmark)
  add_dependencies(bench_ftdi standin-ftdi1)
  set_target_properties(bench_ftdi PROPERTIES AUTOMOC OFF)
endif()
