#include "BinaryImage.h"

#include <algorithm>
#include <cstdio>

namespace imagefile {

TBinaryReadResult ReadBinaryFile(const std::filesystem::path& fileName,
                                 std::span<std::uint8_t> dest) {
    TBinaryReadResult r;
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) return r;
    r.opened = true;
    std::fill(dest.begin(), dest.end(), std::uint8_t{0xFF});

    while (r.length < dest.size()) {
        const std::size_t got = std::fread(dest.data() + r.length, 1, dest.size() - r.length, file);
        r.length += got;
        if (got == 0) break;
    }
    if (!std::ferror(file) && r.length == dest.size()) {
        unsigned char extra = 0;
        r.tooLong = std::fread(&extra, 1, 1, file) == 1;
    }
    r.readError = std::ferror(file) != 0;
    std::fclose(file);
    return r;
}

TFileWriteResult WriteBinaryFile(const std::filesystem::path& fileName,
                                 std::span<const std::uint8_t> bytes) {
    TFileWriteResult r;
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (!file) return r;
    r.created = true;
    const bool wrote =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    r.written = wrote && closed;
    return r;
}

} // namespace imagefile
