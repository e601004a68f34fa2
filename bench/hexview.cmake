# Repaint speed of the hex view against a plain text edit showing the same rows.
add_executable(bench_hexview ${CMAKE_CURRENT_LIST_DIR}/bench_hexview.cpp)
target_link_libraries(bench_hexview PRIVATE hexview benchmark::benchmark)
