#include "GpioLines.h"

#include <dlfcn.h>

#include <cerrno>

namespace cable {

namespace {

template <typename Fn> bool Resolve(void* handle, const char* name, Fn& fn, std::string& missing) {
    fn = LibraryFunction<Fn>(handle, name);
    if (fn == nullptr && missing.empty()) missing = name;
    return fn != nullptr;
}

bool Used(const TGpiod& api, gpiod_line* line) {
    api.Update(line); // the kernel's view now, as another program may hold it
    return api.IsUsed(line);
}

} // namespace

bool LoadGpiod(bool simulate, const std::vector<std::string>& standinCandidates, TGpiod& api,
               std::string& error) {
    api = TGpiod{};
    void* handle = nullptr;
    if (simulate) {
        handle = LoadStandin(standinCandidates, error);
        if (handle == nullptr) return false;
    } else {
        handle = dlopen(GpiodLibraryFile, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            error = std::string("libgpiod is missing: install the Debian package libgpiod2 (sudo apt "
                                "install libgpiod2), or try the cable with --simulate");
            return false;
        }
    }
    std::string missing;
    Resolve(handle, "gpiod_chip_open", api.ChipOpen, missing);
    Resolve(handle, "gpiod_chip_close", api.ChipClose, missing);
    Resolve(handle, "gpiod_chip_num_lines", api.ChipNumLines, missing);
    Resolve(handle, "gpiod_chip_get_line", api.ChipGetLine, missing);
    Resolve(handle, "gpiod_line_request_bulk_output", api.RequestBulkOutput, missing);
    Resolve(handle, "gpiod_line_request_input", api.RequestInput, missing);
    Resolve(handle, "gpiod_line_release_bulk", api.ReleaseBulk, missing);
    Resolve(handle, "gpiod_line_release", api.Release, missing);
    Resolve(handle, "gpiod_line_set_value_bulk", api.SetValueBulk, missing);
    Resolve(handle, "gpiod_line_get_value", api.GetValue, missing);
    Resolve(handle, "gpiod_line_update", api.Update, missing);
    Resolve(handle, "gpiod_line_is_used", api.IsUsed, missing);
    Resolve(handle, "gpiod_line_consumer", api.Consumer, missing);
    if (!missing.empty()) {
        error = std::string(simulate ? StandinLibraryFile : GpiodLibraryFile) + " lacks " + missing +
                ": it is not libgpiod 1.6 (Debian package libgpiod2)";
        return false;
    }
    if (simulate) {
        api.StandinNowNs = LibraryFunction<uint64_t (*)()>(handle, "quillon_standin_now_ns");
        api.StandinSleepMs = LibraryFunction<void (*)(uint32_t)>(handle, "quillon_standin_sleep_ms");
    }
    api.Handle = handle;
    return true;
}

std::string GpioChipPath(const std::string& chip) {
    if (chip.find('/') != std::string::npos) return chip;
    if (!chip.empty() && chip.find_first_not_of("0123456789") == std::string::npos)
        return "/dev/gpiochip" + chip;
    return "/dev/" + chip;
}

std::string GpioChipFailure(const std::string& chipPath, int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
        return chipPath + ": no such GPIO chip; name one of /dev/gpiochip* with chip=";
    case EACCES:
    case EPERM:
        return chipPath +
               ": permission denied; join the group gpio (sudo usermod -aG gpio $USER, then log in "
               "again) or add a udev rule giving your group the GPIO chips (SUBSYSTEM==\"gpio\", "
               "KERNEL==\"gpiochip*\", GROUP=\"gpio\", MODE=\"0660\")";
    default:
        return chipPath + ": cannot open the GPIO chip: " + ErrorText(error);
    }
}

bool TGpioLines::Open(const TGpiod& api, const std::string& chipPath,
                      const std::vector<TGpioLine>& outputs, std::optional<TGpioLine> input,
                      const char* consumer, std::string& error) {
    Close();
    api_ = &api;
    std::vector<TGpioLine> all = outputs;
    if (input) all.push_back(*input);
    if (outputs.empty() || outputs.size() > GPIOD_LINE_BULK_MAX_LINES) {
        error = "no GPIO lines to take";
        return false;
    }
    errno = 0;
    chip_ = api.ChipOpen(chipPath.c_str());
    if (chip_ == nullptr) {
        error = GpioChipFailure(chipPath, errno != 0 ? errno : ENODEV);
        return false;
    }
    const unsigned count = api.ChipNumLines(chip_);
    std::vector<gpiod_line*> lines;
    for (const TGpioLine& l : all) {
        gpiod_line* line = l.Offset < count ? api.ChipGetLine(chip_, l.Offset) : nullptr;
        if (line == nullptr) {
            error = "line " + std::to_string(l.Offset) + " (" + l.Role + ") is not on " + chipPath +
                    ", which has lines 0 to " + std::to_string(count == 0 ? 0 : count - 1) +
                    "; choose another with " + l.Option + "=";
            Close();
            return false;
        }
        lines.push_back(line);
    }
    gpiod_line_bulk_init(&outputs_);
    for (std::size_t i = 0; i < outputs.size(); ++i)
        gpiod_line_bulk_add(&outputs_, lines[i]);
    const std::vector<int> low(outputs.size(), 0);
    if (api.RequestBulkOutput(&outputs_, consumer, low.data()) != 0) {
        const int why = errno;
        error = why == EBUSY ? BusyText(chipPath, outputs)
                             : "cannot take the output lines of " + chipPath + ": " + ErrorText(why);
        Close();
        return false;
    }
    outputsHeld_ = true;
    if (input) {
        if (api.RequestInput(lines.back(), consumer) != 0) {
            const int why = errno;
            error = why == EBUSY ? BusyText(chipPath, {*input})
                                 : "cannot take line " + std::to_string(input->Offset) + " (" +
                                       input->Role + ") of " + chipPath + ": " + ErrorText(why);
            Close();
            return false;
        }
        input_ = lines.back();
    }
    return true;
}

// Which of `lines` is in use, and by whom, in one line. A line the SPI
// controller holds is named first: disabling SPI frees all of its pins.
std::string TGpioLines::BusyText(const std::string& chipPath, const std::vector<TGpioLine>& lines) {
    for (const bool spiPass : {true, false})
        for (const TGpioLine& l : lines) {
            gpiod_line* line = api_->ChipGetLine(chip_, l.Offset);
            if (line == nullptr || !Used(*api_, line)) continue;
            const char* holder = api_->Consumer(line);
            const std::string name = holder != nullptr ? holder : "";
            const bool spi = name.rfind("spi", 0) == 0;
            if (spi != spiPass) continue;
            const std::string text = "line " + std::to_string(l.Offset) + " (" + l.Role + ") of " +
                                     chipPath + " is in use by " +
                                     (name.empty() ? std::string("another program") : "\"" + name + "\"");
            if (spi)
                return text + ": disable the SPI interface (raspi-config, Interface Options, SPI) or "
                              "choose other lines with " + l.Option + "=";
            return text + ": stop the program that holds it or choose another line with " + l.Option +
                   "=";
        }
    return "the GPIO lines of " + chipPath + " are in use by another program";
}

bool TGpioLines::Set(const int* values) {
    return chip_ != nullptr && outputsHeld_ && api_->SetValueBulk(&outputs_, values) == 0;
}

int TGpioLines::Get() {
    if (input_ == nullptr) return -1;
    const int v = api_->GetValue(input_);
    return v < 0 ? -1 : (v != 0 ? 1 : 0);
}

void TGpioLines::Close() {
    if (chip_ == nullptr) return;
    if (input_ != nullptr) api_->Release(input_);
    if (outputsHeld_) api_->ReleaseBulk(&outputs_);
    api_->ChipClose(chip_);
    chip_ = nullptr;
    input_ = nullptr;
    outputsHeld_ = false;
    gpiod_line_bulk_init(&outputs_);
}

} // namespace cable
