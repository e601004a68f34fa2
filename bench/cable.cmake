# The engine over every cable and programmer on its stand-in: model time of
# an ATmega328P's full write and verification against each cable's floor.
#   build/bench/bin/bench_cables
if(TARGET cable AND TARGET portio-sim)
  add_executable(bench_cables ${CMAKE_CURRENT_LIST_DIR}/bench_cables.cpp)
  target_link_libraries(bench_cables PRIVATE cable isp benchmark::benchmark ${CMAKE_DL_LIBS})
  set_target_properties(bench_cables PROPERTIES AUTOMOC OFF)
  # The port libraries, stand-ins and the simulated ArduinoISP it runs on.
  add_dependencies(bench_cables portio-sim portio-gpio portio-serial standin-linux standin-ftdi1
    standin-usbasp quillon-sim-arduinoisp)
endif()
