// A stand-in of libgpiod 1.6 (the v1 interface of gpiod.h) with one chip,
// /dev/gpiochip0, 54 lines like a Raspberry Pi's. Four of its lines are
// wired to the simulated part: by default RESET 25, SCK 11, MOSI 10 and
// MISO 9, the Pi's SPI0 pins; QUILLON_SIM_GPIO_WIRING rewires them with
// the gpio cable's own option text ("reset=24,sck=11,mosi=10,miso=9"), so
// that the board is wired as the cable is told. Every call that reaches the
// kernel costs one GPIO ioctl of model time (1 us). Faults
// (QUILLON_SIM_CABLE_FAULT): "absent" and "denied" fail the chip's open
// with ENOENT and EACCES; "busy" shows every line already in use, the SPI
// pins (7 to 11) by "spi0" and the others by "sysfs", and fails their
// requests with EBUSY.
#include "SharedBoard.h"

#include "CableOptions.h"

#include <gpiod.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

struct gpiod_line {
    gpiod_chip* chip = nullptr;
    unsigned offset = 0;
    bool requested = false;
    bool output = false;
    int value = 0;
    std::string consumer;
    uint64_t request = 0; // lines requested together share a number
};

struct gpiod_chip {
    std::string name = "gpiochip0";
    std::string label = "pinctrl-bcm2835";
    std::vector<gpiod_line> lines;
    bool busy = false; // the "busy" fault: every line held by someone else
    unsigned wired[4] = {25, 11, 10, 9}; // RESET, SCK, MOSI, MISO
};

namespace {

using namespace std::chrono_literals;

constexpr unsigned kLines = 54;
constexpr const char* kChipPath = "/dev/gpiochip0";
constexpr auto kGpioCall = 1us;
uint64_t g_nextRequest = 1;

enum Role { kReset, kSck, kMosi, kMiso, kNone };

// The board's wiring from QUILLON_SIM_GPIO_WIRING; false (and a line on
// standard error) when it does not parse.
bool Wiring(unsigned (&wired)[4]) {
    const char* text = std::getenv("QUILLON_SIM_GPIO_WIRING");
    if (text == nullptr || *text == '\0') return true;
    std::string error;
    auto options = cable::ParseCableOptions(text, error);
    if (options && !cable::CheckCableOptions(*options, {"reset", "sck", "mosi", "miso"},
                                             "simulated gpio", error))
        options.reset();
    if (options) {
        const char* names[4] = {"reset", "sck", "mosi", "miso"};
        for (int r = 0; r < 4 && options; ++r) {
            const auto value = cable::CableOption(*options, names[r]);
            if (!value) continue;
            const auto n = cable::CableNumber(*value, kLines - 1);
            if (!n) {
                error = std::string(names[r]) + "=" + *value + " is not a line of gpiochip0 (0 to " +
                        std::to_string(kLines - 1) + ")";
                options.reset();
            } else {
                wired[r] = static_cast<unsigned>(*n);
            }
        }
    }
    if (!options) std::fprintf(stderr, "QUILLON_SIM_GPIO_WIRING: %s\n", error.c_str());
    return options.has_value();
}

Role RoleOf(const gpiod_line* line) {
    for (int r = 0; r < 4; ++r)
        if (line->chip->wired[r] == line->offset) return static_cast<Role>(r);
    return kNone;
}

// What the part sees of the lines of one call: the levels of the output
// lines among them that are wired to a pin, or their pins let go, all at once.
void Drive(gpiod_line* const* lines, unsigned count) {
    constexpr standin::Pin kPins[3] = {standin::Pin::Reset, standin::Pin::Sck, standin::Pin::Mosi};
    standin::shared::PinLevel levels[3];
    std::size_t n = 0;
    for (unsigned i = 0; i < count && n < 3; ++i) {
        const Role role = RoleOf(lines[i]);
        if (role == kMiso || role == kNone) continue;
        levels[n++] = {kPins[role], lines[i]->requested && lines[i]->output
                                        ? std::optional<bool>(lines[i]->value != 0)
                                        : std::nullopt};
    }
    if (n > 0) standin::shared::Drive(levels, n);
}

void Drive(gpiod_line* line) {
    Drive(&line, 1);
}

void Call() {
    standin::shared::Spend(kGpioCall);
}

int Fail(int error) {
    errno = error;
    return -1;
}

bool SpiPin(unsigned offset) {
    return offset >= 7 && offset <= 11;
}

// Requests the lines of `bulk` together, as outputs with `values` or as inputs.
int Request(gpiod_line_bulk* bulk, const char* consumer, bool output, const int* values) {
    Call();
    if (bulk == nullptr || bulk->num_lines == 0) return Fail(EINVAL);
    gpiod_chip* chip = bulk->lines[0]->chip;
    for (unsigned i = 0; i < bulk->num_lines; ++i) {
        const gpiod_line* line = bulk->lines[i];
        if (line->chip != chip) return Fail(EINVAL);
        if (line->requested || chip->busy) return Fail(EBUSY);
    }
    const uint64_t request = g_nextRequest++;
    for (unsigned i = 0; i < bulk->num_lines; ++i) {
        gpiod_line* line = bulk->lines[i];
        line->requested = true;
        line->output = output;
        line->value = output && values != nullptr && values[i] != 0 ? 1 : 0;
        line->consumer = consumer != nullptr ? consumer : "";
        line->request = request;
        standin::shared::LinesHeld(1);
    }
    Drive(bulk->lines, bulk->num_lines);
    return 0;
}

int LevelOf(gpiod_line* line) {
    if (line->output) return line->value;
    switch (RoleOf(line)) {
    case kMiso:
        return standin::shared::Miso() ? 1 : 0;
    case kReset:
        return 1; // pulled up while nothing drives it
    default:
        return 0;
    }
}

// Lines of one bulk requested together, in one request.
bool SameRequest(const gpiod_line_bulk* bulk) {
    if (bulk == nullptr || bulk->num_lines == 0) return false;
    for (unsigned i = 0; i < bulk->num_lines; ++i)
        if (!bulk->lines[i]->requested || bulk->lines[i]->request != bulk->lines[0]->request)
            return false;
    return true;
}

} // namespace

extern "C" {

struct gpiod_chip* gpiod_chip_open(const char* path) {
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    if (std::strcmp(path, kChipPath) != 0) {
        errno = ENOENT;
        return nullptr;
    }
    if (const int error = standin::OpenErrorFromEnvironment(false); error != 0) {
        errno = error;
        return nullptr;
    }
    auto* chip = new gpiod_chip;
    int error = 0;
    if (!Wiring(chip->wired) || !standin::shared::Acquire("gpio gpiochip0", standin::kGpioCalls, error)) {
        delete chip;
        errno = error != 0 ? error : EINVAL;
        return nullptr;
    }
    chip->busy = standin::FaultFromEnvironment() == standin::Fault::Busy;
    chip->lines.resize(kLines);
    for (unsigned i = 0; i < kLines; ++i) {
        chip->lines[i].chip = chip;
        chip->lines[i].offset = i;
    }
    Call();
    return chip;
}

struct gpiod_chip* gpiod_chip_open_by_name(const char* name) {
    if (name == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return gpiod_chip_open(("/dev/" + std::string(name)).c_str());
}

struct gpiod_chip* gpiod_chip_open_by_number(unsigned int num) {
    return gpiod_chip_open(("/dev/gpiochip" + std::to_string(num)).c_str());
}

struct gpiod_chip* gpiod_chip_open_by_label(const char* label) {
    if (label != nullptr && std::strcmp(label, "pinctrl-bcm2835") == 0) return gpiod_chip_open(kChipPath);
    errno = ENOENT;
    return nullptr;
}

struct gpiod_chip* gpiod_chip_open_lookup(const char* descr) {
    if (descr == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string d(descr);
    if (d.find('/') != std::string::npos) return gpiod_chip_open(descr);
    if (!d.empty() && d.find_first_not_of("0123456789") == std::string::npos)
        return gpiod_chip_open_by_number(static_cast<unsigned>(std::strtoul(descr, nullptr, 10)));
    if (d == "pinctrl-bcm2835") return gpiod_chip_open_by_label(descr);
    return gpiod_chip_open_by_name(descr);
}

void gpiod_chip_close(struct gpiod_chip* chip) {
    if (chip == nullptr) return;
    // Closing the chip lets its lines go, as closing the file does.
    for (gpiod_line& line : chip->lines)
        if (line.requested) gpiod_line_release(&line);
    delete chip;
    standin::shared::Release();
}

const char* gpiod_chip_name(struct gpiod_chip* chip) {
    return chip->name.c_str();
}

const char* gpiod_chip_label(struct gpiod_chip* chip) {
    return chip->label.c_str();
}

unsigned int gpiod_chip_num_lines(struct gpiod_chip* chip) {
    return static_cast<unsigned>(chip->lines.size());
}

struct gpiod_line* gpiod_chip_get_line(struct gpiod_chip* chip, unsigned int offset) {
    if (chip == nullptr || offset >= chip->lines.size()) {
        errno = EINVAL;
        return nullptr;
    }
    Call();
    return &chip->lines[offset];
}

int gpiod_chip_get_lines(struct gpiod_chip* chip, unsigned int* offsets, unsigned int num_offsets,
                         struct gpiod_line_bulk* bulk) {
    if (num_offsets > GPIOD_LINE_BULK_MAX_LINES) return Fail(EINVAL);
    gpiod_line_bulk_init(bulk);
    for (unsigned i = 0; i < num_offsets; ++i) {
        gpiod_line* line = gpiod_chip_get_line(chip, offsets[i]);
        if (line == nullptr) return -1;
        gpiod_line_bulk_add(bulk, line);
    }
    return 0;
}

unsigned int gpiod_line_offset(struct gpiod_line* line) {
    return line->offset;
}

const char* gpiod_line_consumer(struct gpiod_line* line) {
    if (line->requested) return line->consumer.c_str();
    if (line->chip->busy) return SpiPin(line->offset) ? "spi0" : "sysfs";
    return nullptr;
}

bool gpiod_line_is_used(struct gpiod_line* line) {
    return line->requested || line->chip->busy;
}

int gpiod_line_update(struct gpiod_line* line) {
    (void)line;
    Call();
    return 0;
}

bool gpiod_line_is_requested(struct gpiod_line* line) {
    return line->requested;
}

bool gpiod_line_is_free(struct gpiod_line* line) {
    return !line->requested;
}

int gpiod_line_request_bulk_output(struct gpiod_line_bulk* bulk, const char* consumer,
                                   const int* default_vals) {
    return Request(bulk, consumer, true, default_vals);
}

int gpiod_line_request_bulk_input(struct gpiod_line_bulk* bulk, const char* consumer) {
    return Request(bulk, consumer, false, nullptr);
}

int gpiod_line_request_output(struct gpiod_line* line, const char* consumer, int default_val) {
    gpiod_line_bulk bulk = GPIOD_LINE_BULK_INITIALIZER;
    gpiod_line_bulk_add(&bulk, line);
    return Request(&bulk, consumer, true, &default_val);
}

int gpiod_line_request_input(struct gpiod_line* line, const char* consumer) {
    gpiod_line_bulk bulk = GPIOD_LINE_BULK_INITIALIZER;
    gpiod_line_bulk_add(&bulk, line);
    return Request(&bulk, consumer, false, nullptr);
}

void gpiod_line_release(struct gpiod_line* line) {
    if (line == nullptr || !line->requested) return;
    Call();
    line->requested = false;
    line->output = false;
    line->consumer.clear();
    standin::shared::LinesHeld(-1);
    Drive(line);
}

void gpiod_line_release_bulk(struct gpiod_line_bulk* bulk) {
    for (unsigned i = 0; bulk != nullptr && i < bulk->num_lines; ++i)
        gpiod_line_release(bulk->lines[i]);
}

int gpiod_line_get_value(struct gpiod_line* line) {
    if (line == nullptr || !line->requested) return Fail(EPERM);
    Call();
    standin::shared::Count(standin::kGpioCalls);
    return LevelOf(line);
}

int gpiod_line_get_value_bulk(struct gpiod_line_bulk* bulk, int* values) {
    if (!SameRequest(bulk)) return Fail(EINVAL);
    Call();
    standin::shared::Count(standin::kGpioCalls);
    for (unsigned i = 0; i < bulk->num_lines; ++i)
        values[i] = LevelOf(bulk->lines[i]);
    return 0;
}

int gpiod_line_set_value(struct gpiod_line* line, int value) {
    if (line == nullptr || !line->requested || !line->output) return Fail(EPERM);
    Call();
    standin::shared::Count(standin::kGpioCalls);
    line->value = value != 0 ? 1 : 0;
    Drive(line);
    return 0;
}

// The kernel sets every line of a request at once: the bulk must be the
// lines requested together, as with the real library.
int gpiod_line_set_value_bulk(struct gpiod_line_bulk* bulk, const int* values) {
    if (!SameRequest(bulk) || !bulk->lines[0]->output) return Fail(EPERM);
    Call();
    standin::shared::Count(standin::kGpioCalls);
    for (unsigned i = 0; i < bulk->num_lines; ++i)
        bulk->lines[i]->value = values != nullptr && values[i] != 0 ? 1 : 0;
    Drive(bulk->lines, bulk->num_lines);
    return 0;
}

} // extern "C"
