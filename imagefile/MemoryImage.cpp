#include "MemoryImage.h"

#include "BinaryImage.h"
#include "HexReader.h"
#include "HexWriter.h"
#include "ImageFileName.h"

#include <algorithm>
#include <new>

namespace imagefile {

namespace {

std::size_t FlashWords(std::size_t flashSize, std::size_t capacity) {
    return std::min(flashSize / 2, capacity);
}

// Reads a file of either format into bytes (sized to the memory). The
// outcome's imageChanged tells whether bytes now hold the image to take.
TLoadOutcome LoadImageBytes(const std::filesystem::path& fileName, TMemoryKind memory,
                            std::span<std::uint8_t> bytes) {
    TLoadOutcome out;
    out.hexFormat = IsHexFileName(fileName.native());
    if (out.hexFormat) {
        const THexReadResult hex = ReadHexFile(fileName, bytes.size(), bytes);
        if (!hex.Accepted()) {
            out.result = TLoadResult::lrHexError;
            out.message = HexErrorMessage;
            out.detail = hex.Describe();
            return out;
        }
        out.imageChanged = true;
        out.highest = hex.highest;
        out.fileBytes = hex.dataBytes;
        return out;
    }

    const TBinaryReadResult bin = ReadBinaryFile(fileName, bytes);
    if (!bin.opened) {
        out.result = TLoadResult::lrOpenError;
        out.message = FileErrorMessage(memory);
        return out;
    }
    out.imageChanged = true;
    out.fileBytes = bin.length;
    if (bin.readError) {
        out.result = TLoadResult::lrReadError;
        out.message = FileErrorMessage(memory);
    } else if (bin.tooLong) {
        out.result = TLoadResult::lrTooLong;
        out.message = TooLongMessage(memory);
    }
    return out;
}

// A load that could not get the little memory it needs is refused like an
// unreadable file: the buffer stays as it was.
TLoadOutcome OutOfMemory(const std::filesystem::path& fileName, TMemoryKind memory) {
    TLoadOutcome out;
    out.hexFormat = IsHexFileName(fileName.native());
    out.result = out.hexFormat ? TLoadResult::lrHexError : TLoadResult::lrOpenError;
    out.message = out.hexFormat ? std::string(HexErrorMessage) : std::string(FileErrorMessage(memory));
    out.detail = "not enough memory";
    return out;
}

TSaveOutcome SaveImageBytes(const std::filesystem::path& fileName, TMemoryKind memory,
                            std::span<const std::uint8_t> bytes) {
    TSaveOutcome out;
    out.hexFormat = IsHexFileName(fileName.native());
    const TFileWriteResult w =
        out.hexFormat ? WriteHexFile(fileName, bytes) : WriteBinaryFile(fileName, bytes);
    out.fileCreated = w.created;
    out.saved = w.Saved();
    if (!out.saved) out.message = FileErrorMessage(memory);
    return out;
}

} // namespace

std::string_view FileErrorMessage(TMemoryKind memory) {
    return memory == TMemoryKind::mkFlash ? "Flash file Error." : "EEPROM file Error.";
}

std::string_view TooLongMessage(TMemoryKind memory) {
    return memory == TMemoryKind::mkFlash ? "Flash file too long" : "EEPROM file too long";
}

TLoadOutcome LoadFlashImage(const std::filesystem::path& fileName, std::size_t flashSize,
                            std::span<std::uint32_t> flashBuffer) {
    try {
        const std::size_t words = FlashWords(flashSize, flashBuffer.size());
        std::vector<std::uint8_t> bytes(words * 2);
        TLoadOutcome out = LoadImageBytes(fileName, TMemoryKind::mkFlash, bytes);
        if (out.imageChanged) {
            for (std::size_t i = 0; i < words; ++i)
                flashBuffer[i] = static_cast<std::uint32_t>(bytes[2 * i]) |
                                 static_cast<std::uint32_t>(bytes[2 * i + 1]) << 8;
        }
        return out;
    } catch (const std::bad_alloc&) {
        return OutOfMemory(fileName, TMemoryKind::mkFlash);
    }
}

TLoadOutcome LoadEEpromImage(const std::filesystem::path& fileName, std::size_t eepromSize,
                             std::span<std::uint8_t> eepromBuffer) {
    try {
        const std::size_t count = std::min(eepromSize, eepromBuffer.size());
        std::vector<std::uint8_t> bytes(count);
        TLoadOutcome out = LoadImageBytes(fileName, TMemoryKind::mkEEprom, bytes);
        if (out.imageChanged) std::copy(bytes.begin(), bytes.end(), eepromBuffer.begin());
        return out;
    } catch (const std::bad_alloc&) {
        return OutOfMemory(fileName, TMemoryKind::mkEEprom);
    }
}

std::vector<std::uint8_t> FlashImageBytes(std::span<const std::uint32_t> flashBuffer,
                                          std::size_t flashSize) {
    const std::size_t words = FlashWords(flashSize, flashBuffer.size());
    std::vector<std::uint8_t> bytes(words * 2);
    for (std::size_t i = 0; i < words; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(flashBuffer[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(flashBuffer[i] >> 8 & 0xFF);
    }
    return bytes;
}

TSaveOutcome SaveFlashImage(const std::filesystem::path& fileName, std::size_t flashSize,
                            std::span<const std::uint32_t> flashBuffer) {
    return SaveImageBytes(fileName, TMemoryKind::mkFlash, FlashImageBytes(flashBuffer, flashSize));
}

TSaveOutcome SaveEEpromImage(const std::filesystem::path& fileName, std::size_t eepromSize,
                             std::span<const std::uint8_t> eepromBuffer) {
    const std::size_t count = std::min(eepromSize, eepromBuffer.size());
    return SaveImageBytes(fileName, TMemoryKind::mkEEprom, eepromBuffer.first(count));
}

} // namespace imagefile
