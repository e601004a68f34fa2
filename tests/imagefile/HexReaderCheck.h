// Runs one input through the HEX reader and checks what must hold for any
// input: no byte written outside the memory, a result that agrees with the
// image. Shared by the libFuzzer target and the ordinary replay test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace imagefile_test {

// Empty when every property held, else what went wrong.
std::string CheckHexReaderOnText(std::string_view text);

} // namespace imagefile_test
