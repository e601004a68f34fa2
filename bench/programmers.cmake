# The programmers with firmware of their own against their floors, in the
# model time of the simulated ArduinoISP and USBasp:
#   build/bench/bin/bench_programmers
if(TARGET cable_programmers)
  add_executable(bench_programmers ${CMAKE_CURRENT_LIST_DIR}/bench_programmers.cpp)
  target_link_libraries(bench_programmers PRIVATE cable_programmers benchmark::benchmark)
  add_dependencies(bench_programmers quillon-sim-arduinoisp standin-usbasp)
  set_target_properties(bench_programmers PROPERTIES AUTOMOC OFF)
endif()
