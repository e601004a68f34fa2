# Engine benchmark: a full "Write to AVR" with both verifications on the
# in-process simulated part. Run it from a Release build:
#   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUILLON_BENCH=ON
#   cmake --build build-bench --target bench_isp && build-bench/bin/bench_isp
if(TARGET isp AND TARGET avrsim)
  add_executable(bench_isp ${CMAKE_CURRENT_LIST_DIR}/bench_isp.cpp)
  target_link_libraries(bench_isp PRIVATE isp avrsim benchmark::benchmark)
  # The engine is wired to the simulated part as in the tests.
  target_include_directories(bench_isp PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  set_target_properties(bench_isp PROPERTIES AUTOMOC OFF)
endif()
