# Image file benchmarks: reading a 32 KB image as Intel HEX, in MB of HEX
# text per second (target: at least 200), and writing it.
if(TARGET imagefile)
  add_executable(bench_imagefile ${CMAKE_CURRENT_LIST_DIR}/bench_imagefile.cpp)
  target_link_libraries(bench_imagefile PRIVATE imagefile benchmark::benchmark benchmark::benchmark_main)
endif()
