// libportio-gpio.so: the bit-bang cable on GPIO lines through libgpiod 1.6,
// e.g. a Raspberry Pi's header. Options: chip= (a name such as gpiochip0,
// a number or a path; default gpiochip0) and the line offsets reset=,
// sck=, mosi=, miso= (default 25, 11, 10, 9). RESET, SCK and MOSI are
// requested together as outputs, so a change of the data register is one
// bulk call (the kernel sets every line of a request at once); MISO is an
// input read with one call. Lines are active high.
#include "CableDefaults.h"
#include "GpioLines.h"
#include "LineCable.h"

#include <cerrno>

namespace {

struct Role {
    const char* option;
    const char* name;
    unsigned offset;
};

class GpioCable final : public portio::TLineCable {
public:
    const char* Name() const override { return "gpio"; }

    bool Configure(const std::vector<cable::TCableOption>& options, std::string& error) override {
        if (!cable::CheckCableOptions(options, {"chip", "reset", "sck", "mosi", "miso"}, "gpio", error))
            return false;
        std::string chip = cable::CableOption(options, "chip").value_or(cable::GpioDefaultChip);
        if (chip.empty()) {
            error = "chip= names no GPIO chip";
            return false;
        }
        Role roles[4] = {{"reset", "RESET", cable::GpioDefaultReset},
                         {"sck", "SCK", cable::GpioDefaultSck},
                         {"mosi", "MOSI", cable::GpioDefaultMosi},
                         {"miso", "MISO", cable::GpioDefaultMiso}};
        for (Role& r : roles) {
            const auto text = cable::CableOption(options, r.option);
            if (!text) continue;
            const auto n = cable::CableNumber(*text, cable::GpioMaxOffset);
            if (!n) {
                error = std::string(r.option) + "=" + *text + " is not a GPIO line offset";
                return false;
            }
            r.offset = static_cast<unsigned>(*n);
        }
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < i; ++j)
                if (roles[i].offset == roles[j].offset) {
                    error = std::string(roles[j].option) + "=" + std::to_string(roles[j].offset) +
                            " and " + roles[i].option + "=" + std::to_string(roles[i].offset) +
                            " name the same line: " + roles[j].name + " and " + roles[i].name +
                            " need a line each";
                    return false;
                }
        chip_ = chip;
        for (int i = 0; i < 4; ++i)
            roles_[i] = roles[i];
        return true;
    }

    bool Open(bool simulate, const std::string& libraryDir, std::string& error) override {
        if (!cable::LoadGpiod(simulate, {libraryDir + "/" + cable::StandinLibraryFile}, api_, error)) {
            error = "the gpio cable cannot start: " + error;
            return false;
        }
        path_ = cable::GpioChipPath(chip_);
        std::vector<cable::TGpioLine> outputs;
        for (int i = 0; i < 3; ++i)
            outputs.push_back({roles_[i].offset, roles_[i].name, roles_[i].option});
        return lines_.Open(api_, path_, outputs,
                           cable::TGpioLine{roles_[3].offset, roles_[3].name, roles_[3].option},
                           cable::GpioConsumer, error);
    }

    void Close() override { lines_.Close(); }

    bool Drive(uint8_t levels, uint8_t changed, std::string& error) override {
        (void)changed; // one request: every output is set in the one call
        const int values[3] = {(levels & portio::kLineReset) != 0, (levels & portio::kLineSck) != 0,
                               (levels & portio::kLineMosi) != 0};
        if (lines_.Set(values)) return true;
        error = "setting the lines of " + path_ + " failed: " + cable::ErrorText(errno);
        return false;
    }

    int Miso(std::string& error) override {
        const int v = lines_.Get();
        if (v < 0) error = "reading line " + std::to_string(roles_[3].offset) + " (MISO) of " + path_ +
                           " failed: " + cable::ErrorText(errno);
        return v;
    }

private:
    std::string chip_ = cable::GpioDefaultChip;
    std::string path_;
    Role roles_[4] = {{"reset", "RESET", cable::GpioDefaultReset},
                      {"sck", "SCK", cable::GpioDefaultSck},
                      {"mosi", "MOSI", cable::GpioDefaultMosi},
                      {"miso", "MISO", cable::GpioDefaultMiso}};
    cable::TGpiod api_;
    cable::TGpioLines lines_;
};

} // namespace

std::unique_ptr<portio::TLineCable> portio::MakeLineCable() {
    return std::make_unique<GpioCable>();
}
