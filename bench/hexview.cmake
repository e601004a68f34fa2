# Repaint speed of the hex view against a plain text edit showing the same rows,
# both in the fonts of the program's window.
add_executable(bench_hexview ${CMAKE_CURRENT_LIST_DIR}/bench_hexview.cpp
  ${PROJECT_SOURCE_DIR}/app/WindowFonts.cpp)
target_include_directories(bench_hexview PRIVATE ${PROJECT_SOURCE_DIR}/app)
target_link_libraries(bench_hexview PRIVATE hexview benchmark::benchmark)
