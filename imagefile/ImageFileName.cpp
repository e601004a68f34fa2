#include "ImageFileName.h"

namespace imagefile {

std::string_view FileExtension(std::string_view fileName) {
    const auto slash = fileName.find_last_of('/');
    const auto base = slash == std::string_view::npos ? 0 : slash + 1;
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string_view::npos || dot < base) return {};
    return fileName.substr(dot);
}

bool IsHexFileName(std::string_view fileName) {
    const auto ext = FileExtension(fileName);
    constexpr std::string_view hex = ".hex";
    if (ext.size() != hex.size()) return false;
    for (std::size_t i = 0; i < hex.size(); ++i) {
        char c = ext[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != hex[i]) return false;
    }
    return true;
}

} // namespace imagefile
