// libFuzzer entry point for the Intel HEX reader. Built only with a compiler
// that supports -fsanitize=fuzzer (see this folder's CMakeLists.txt); the
// corpus lives in tests/data/hex-corpus.
#include "HexReaderCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure =
        imagefile_test::CheckHexReaderOnText({reinterpret_cast<const char*>(data), size});
    if (!failure.empty()) {
        std::fprintf(stderr, "HEX reader: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
