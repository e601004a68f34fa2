// Which format a memory image file name asks for.
#pragma once

#include <string_view>

namespace imagefile {

// The extension of a file name: the text from the last full stop of its last
// component to the end, full stop included; empty when there is none. A full
// stop in a folder name does not count.
std::string_view FileExtension(std::string_view fileName);

// True when the name ends in ".hex" in any letter case: such files are read
// and written as Intel HEX text, every other name as a raw binary image.
bool IsHexFileName(std::string_view fileName);

} // namespace imagefile
