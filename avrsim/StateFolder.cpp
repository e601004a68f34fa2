#include "avrsim/StateFolder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace avrsim {
namespace {

namespace fs = std::filesystem;

bool ReadWhole(const fs::path& path, std::vector<char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Copies the file into `dest` only when it has exactly dest's size.
void LoadExact(const fs::path& path, std::span<uint8_t> dest) {
    std::vector<char> bytes;
    if (!ReadWhole(path, bytes) || bytes.size() != dest.size()) return;
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(dest.data()));
}

std::string_view Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Writes beside the target and renames over it, so a reader never sees half a file.
bool WriteReplacing(const fs::path& path, const void* data, size_t size, std::string& error) {
    fs::path tmp = path;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (out) out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) {
            error = "cannot write " + tmp.string();
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        error = "cannot replace " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

} // namespace

bool LoadChipState(const std::string& dir, std::string_view part, std::span<uint8_t> flash,
                   std::span<uint8_t> eeprom, std::array<uint8_t, 3>& fuses) {
    const fs::path folder(dir);
    std::vector<char> name;
    if (!ReadWhole(folder / "device.txt", name)) return false;
    if (Trimmed(std::string_view(name.data(), name.size())) != part) return false;
    LoadExact(folder / "flash.bin", flash);
    LoadExact(folder / "eeprom.bin", eeprom);
    LoadExact(folder / "fuses.bin", fuses);
    return true;
}

bool SaveChipState(const std::string& dir, std::string_view part, std::span<const uint8_t> flash,
                   std::span<const uint8_t> eeprom, const std::array<uint8_t, 3>& fuses,
                   std::string& error) {
    const fs::path folder(dir);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder.string() + ": " + ec.message();
        return false;
    }
    const std::string nameLine = std::string(part) + "\n";
    return WriteReplacing(folder / "flash.bin", flash.data(), flash.size(), error) &&
           WriteReplacing(folder / "eeprom.bin", eeprom.data(), eeprom.size(), error) &&
           WriteReplacing(folder / "fuses.bin", fuses.data(), fuses.size(), error) &&
           WriteReplacing(folder / "device.txt", nameLine.data(), nameLine.size(), error);
}

void LoadLockState(const std::string& dir, uint8_t& lock) {
    LoadExact(fs::path(dir) / "lock.bin", std::span<uint8_t>(&lock, 1));
}

bool SaveLockState(const std::string& dir, uint8_t lock, std::string& error) {
    return WriteReplacing(fs::path(dir) / "lock.bin", &lock, 1, error);
}

} // namespace avrsim
