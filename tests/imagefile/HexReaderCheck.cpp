#include "HexReaderCheck.h"

#include "HexReader.h"

#include <algorithm>
#include <vector>

namespace imagefile_test {

namespace {

constexpr std::uint8_t kCanary = 0x5A;
constexpr std::size_t kGuard = 64;

std::string CheckOneSize(std::string_view text, std::size_t memorySize) {
    using namespace imagefile;
    // A buffer of exactly the memory size: a write past it is a heap
    // overflow that the address sanitizer reports.
    std::vector<std::uint8_t> exact(memorySize);
    const THexReadResult r = ReadHexText(text, memorySize, exact);

    // The same text into a larger buffer: the bytes past the memory size
    // must keep their guard value.
    std::vector<std::uint8_t> guarded(memorySize + kGuard, kCanary);
    const THexReadResult g = ReadHexText(text, memorySize, guarded);

    const std::string where = " (memory size " + std::to_string(memorySize) + ")";
    if (std::any_of(guarded.begin() + static_cast<std::ptrdiff_t>(memorySize), guarded.end(),
                    [](std::uint8_t b) { return b != kCanary; }))
        return "wrote beyond the memory size" + where;
    if (r.error != g.error || r.highest != g.highest || r.dataBytes != g.dataBytes)
        return "result depends on the buffer's capacity" + where;
    if (r.Accepted() != r.highest.has_value()) return "accepted without a highest position" + where;
    if (r.Accepted() == !r.Describe().empty())
        return "description disagrees with the result" + where;
    if (r.Accepted()) {
        if (*r.highest >= memorySize) return "highest position beyond the memory" + where;
        if (r.dataBytes == 0) return "accepted without data" + where;
        for (std::size_t p = *r.highest + 1; p < memorySize; ++p)
            if (exact[p] != 0xFF) return "byte above the highest position is not erased" + where;
        if (!std::equal(exact.begin(), exact.end(), guarded.begin()))
            return "image depends on the buffer's capacity" + where;
    }
    return {};
}

} // namespace

std::string CheckHexReaderOnText(std::string_view text) {
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{128}, std::size_t{16384}, std::size_t{65536}}) {
        std::string failure = CheckOneSize(text, size);
        if (!failure.empty()) return failure;
    }
    return {};
}

} // namespace imagefile_test
