#pragma once
// The two forms in which the hex view puts bytes on the clipboard: the
// "CF_HexText" block (count, then the bytes) and a plain text.

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kHexTextMimeType =
    "application/x-qt-windows-mime;value=\"CF_HexText\"";

// What the clipboard offers, as far as the hex view is concerned.
struct HexClipboardContent {
    bool hasBlock = false;
    std::vector<uint8_t> block;
    bool hasText = false;
    std::string text; // single-byte characters
};

// Block of n + 5 bytes: n as unsigned 32-bit little-endian, the bytes, one
// spare zero byte.
std::vector<uint8_t> HexViewEncodeBlock(const uint8_t* bytes, int32_t n);

// Plain text of the bytes: "41 0A " style when copied from the byte column,
// the characters themselves (bytes below 32 as ".") from the text column.
std::string HexViewClipboardText(const uint8_t* bytes, int32_t n, bool fromHexColumn);

// The bytes a paste inserts: the block when there is one (only the bytes it
// really holds, however large its count), else the text up to its first
// zero character. False when neither form is there.
bool HexViewDecodeClipboard(const HexClipboardContent& content, std::vector<uint8_t>& bytes);
