// libstandin-ftdi1.so: a stand-in of libftdi1 with the same C interface
// (ftdi.h) for the functions the ftdi cable calls. Its USB bus holds
// simulated FTDI boards; the one opened is wired to a simulated part
// (standin::SimBoard) and played by standin::FtdiChip, on the part's model
// clock. Configured by the environment:
//
//   QUILLON_SIM_FTDI         the boards plugged in, comma-separated:
//                            ft232r (default), ft232h, ft2232h
//   QUILLON_SIM_FTDI_SERIAL  their serial numbers, comma-separated
//                            (default QUIL0001, QUIL0002, ...)
//   QUILLON_SIM_FTDI_PINS    how the part is wired to the board, in the
//                            cable's own words: reset=, sck=, mosi=, miso=
//                            (FT232R pins TXD..RI, D0..D7 or 0..7; default
//                            reset=dtr,sck=rxd,mosi=txd,miso=cts) and for
//                            MPSSE reset=adbus3..7 or acbus0..7 (default
//                            adbus4)
//   QUILLON_SIM_CABLE_FAULT  absent (no board on the bus), denied (the
//                            device file is not the user's: opening fails
//                            as libusb_open does), busy (another program
//                            has claimed it)
//   QUILLON_SIM_DISCONNECT_AFTER, QUILLON_SIM_DEVICE and the rest: the
//                            simulated part, as for the parallel port; a cut
//                            cable makes every USB transfer fail, as an
//                            unplugged board does.
//
// The board opened reports on closing (QUILLON_SIM_REPORT). Besides
// libftdi's functions it exports the model clock every stand-in has,
// quillon_standin_now_ns and quillon_standin_sleep_ms, and
// quillon_standin_count: the USB round trips so far.

#include "FtdiChip.h"
#include "SimBoard.h"

#include <ftdi.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// libusb's device, opaque to libftdi's callers: here a simulated board on the bus.
struct libusb_device {
    std::size_t index;
};

namespace {

using standin::FtdiKind;

struct SimDevice {
    FtdiKind kind;
    int product;
    std::string serial;
};

// A context as the stand-in hands it out: libftdi's structure first.
struct Context {
    ftdi_context ctx{};
    bool open = false;
    std::size_t device = 0;
    struct Transfer* pendingRead = nullptr;
};

// A transfer under way: libftdi's structure first.
struct Transfer {
    ftdi_transfer_control tc{};
    bool read = false;
    int result = 0;
};

// The bus and the board opened on it.
struct Bus {
    std::vector<SimDevice> devices;
    std::vector<std::unique_ptr<libusb_device>> handles;
    standin::Fault fault = standin::Fault::None;
    std::unique_ptr<standin::SimBoard> board;
    std::unique_ptr<standin::FtdiChip> chip;
    Context* owner = nullptr;
    uint64_t baseNs = 0; // model time of boards closed before
    uint64_t countBase = 0;
};

Bus& TheBus() {
    static Bus bus;
    return bus;
}

std::vector<std::string> Split(const char* text) {
    std::vector<std::string> items;
    if (text == nullptr || *text == '\0') return items;
    std::string s(text);
    std::size_t from = 0;
    for (std::size_t comma; (comma = s.find(',', from)) != std::string::npos; from = comma + 1)
        items.push_back(s.substr(from, comma - from));
    items.push_back(s.substr(from));
    return items;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The boards on the bus, read afresh while none is open.
void PlugBoards(Bus& bus) {
    if (bus.board) return;
    bus.fault = standin::FaultFromEnvironment();
    bus.devices.clear();
    if (bus.fault == standin::Fault::Absent) return;
    std::vector<std::string> kinds = Split(std::getenv("QUILLON_SIM_FTDI"));
    if (kinds.empty()) kinds.push_back("ft232r");
    const std::vector<std::string> serials = Split(std::getenv("QUILLON_SIM_FTDI_SERIAL"));
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const std::string k = Lower(kinds[i]);
        SimDevice d{FtdiKind::FT232R, 0x6001, {}};
        if (k == "ft232h")
            d = {FtdiKind::FT232H, 0x6014, {}};
        else if (k == "ft2232h")
            d = {FtdiKind::FT2232H, 0x6010, {}};
        char serial[32];
        std::snprintf(serial, sizeof serial, "QUIL%04zu", i + 1);
        d.serial = i < serials.size() ? serials[i] : serial;
        bus.devices.push_back(d);
    }
    while (bus.handles.size() < bus.devices.size())
        bus.handles.push_back(std::make_unique<libusb_device>(libusb_device{bus.handles.size()}));
}

// QUILLON_SIM_FTDI_PINS: the wiring of the part to the board.
std::optional<standin::FtdiWiring> WiringFromEnvironment(std::string& error) {
    standin::FtdiWiring w;
    static const char* const names[] = {"txd", "rxd", "rts", "cts", "dtr", "dsr", "dcd", "ri"};
    for (const std::string& item : Split(std::getenv("QUILLON_SIM_FTDI_PINS"))) {
        const std::size_t eq = item.find('=');
        const std::string line = Lower(item.substr(0, eq));
        const std::string pin = eq == std::string::npos ? "" : Lower(item.substr(eq + 1));
        // "d4", "adbus4": a prefix and one digit.
        auto numbered = [&pin](std::string_view prefix, int n) {
            return pin.size() == prefix.size() + 1 && pin.compare(0, prefix.size(), prefix) == 0 &&
                   pin.back() == static_cast<char>('0' + n);
        };
        int bit = -1, gpio = -1;
        for (int b = 0; b < 8; ++b) {
            if (pin == names[b] || numbered("", b) || numbered("d", b)) bit = b;
            if (numbered("adbus", b) && b >= 3) gpio = b;
            if (numbered("acbus", b)) gpio = 8 + b;
        }
        uint8_t* target = line == "reset"  ? &w.reset
                          : line == "sck"  ? &w.sck
                          : line == "mosi" ? &w.mosi
                          : line == "miso" ? &w.miso
                                           : nullptr;
        if (target != nullptr && bit >= 0)
            *target = static_cast<uint8_t>(bit);
        else if (line == "reset" && gpio >= 0)
            w.mpsseReset = static_cast<uint8_t>(gpio);
        else {
            error = "QUILLON_SIM_FTDI_PINS: '" + item + "' wires no line to a pin";
            return std::nullopt;
        }
    }
    return w;
}

Context* Ctx(ftdi_context* ftdi) {
    return reinterpret_cast<Context*>(ftdi);
}

int Error(ftdi_context* ftdi, int code, const char* text) {
    ftdi->error_str = text;
    return code;
}

// The chip behind an open context, or null.
standin::FtdiChip* ChipOf(ftdi_context* ftdi) {
    Bus& bus = TheBus();
    if (ftdi == nullptr || !Ctx(ftdi)->open || bus.owner != Ctx(ftdi)) return nullptr;
    return bus.chip.get();
}

const char* Description(FtdiKind kind) {
    switch (kind) {
    case FtdiKind::FT232R:
        return "FT232R USB UART";
    case FtdiKind::FT232H:
        return "Single RS232-HS";
    case FtdiKind::FT2232H:
        break;
    }
    return "Dual RS232-HS";
}

void CopyString(char* to, int size, const std::string& from) {
    if (to == nullptr || size <= 0) return;
    std::snprintf(to, static_cast<std::size_t>(size), "%s", from.c_str());
}

} // namespace

#pragma GCC visibility push(default)
extern "C" {

struct ftdi_context* ftdi_new(void) {
    auto* c = new Context;
    c->ctx.usb_read_timeout = 5000;
    c->ctx.usb_write_timeout = 5000;
    c->ctx.type = TYPE_BM;
    c->ctx.baudrate = -1;
    c->ctx.interface = 0;
    c->ctx.index = INTERFACE_A;
    c->ctx.error_str = "";
    return &c->ctx;
}

int ftdi_usb_close(struct ftdi_context* ftdi) {
    if (ftdi == nullptr) return -3;
    Bus& bus = TheBus();
    Context* c = Ctx(ftdi);
    if (!c->open) return 0;
    c->open = false;
    if (bus.owner != c) return 0;
    const bool gone = bus.chip->Gone();
    bus.countBase += bus.chip->RoundTrips();
    bus.board->Report();
    bus.baseNs += bus.board->NowNs();
    bus.chip.reset();
    bus.board.reset(); // saves the part's state folder
    bus.owner = nullptr;
    ftdi->usb_dev = nullptr;
    return gone ? Error(ftdi, -1, "usb_release failed") : 0;
}

void ftdi_free(struct ftdi_context* ftdi) {
    if (ftdi == nullptr) return;
    ftdi_usb_close(ftdi);
    Context* c = Ctx(ftdi);
    delete c->pendingRead;
    delete c;
}

int ftdi_set_interface(struct ftdi_context* ftdi, enum ftdi_interface interface) {
    if (ftdi == nullptr) return Error(ftdi, -2, "USB device unavailable");
    if (Ctx(ftdi)->open)
        return Error(ftdi, -3, "Interface can not be changed on an already open device");
    if (interface != INTERFACE_ANY && interface != INTERFACE_A)
        return Error(ftdi, -1, "Unknown interface"); // only channel A is wired to the part
    return 0;
}

int ftdi_usb_find_all(struct ftdi_context* ftdi, struct ftdi_device_list** devlist, int vendor,
                      int product) {
    if (devlist == nullptr) return -3;
    *devlist = nullptr;
    Bus& bus = TheBus();
    PlugBoards(bus);
    int count = 0;
    ftdi_device_list** tail = devlist;
    for (std::size_t i = 0; i < bus.devices.size(); ++i) {
        const bool wanted = (vendor == 0 && product == 0) ||
                            (vendor == 0x0403 && product == bus.devices[i].product);
        if (!wanted) continue;
        *tail = new ftdi_device_list{nullptr, bus.handles[i].get()};
        tail = &(*tail)->next;
        ++count;
    }
    (void)ftdi;
    return count;
}

void ftdi_list_free(struct ftdi_device_list** devlist) {
    if (devlist == nullptr) return;
    for (ftdi_device_list* p = *devlist; p != nullptr;) {
        ftdi_device_list* next = p->next;
        delete p;
        p = next;
    }
    *devlist = nullptr;
}

int ftdi_usb_get_strings(struct ftdi_context* ftdi, struct libusb_device* dev, char* manufacturer,
                         int mnf_len, char* description, int desc_len, char* serial,
                         int serial_len) {
    Bus& bus = TheBus();
    if (ftdi == nullptr || dev == nullptr || dev->index >= bus.devices.size())
        return ftdi == nullptr ? -1 : Error(ftdi, -1, "wrong arguments");
    if (bus.fault == standin::Fault::Denied) return Error(ftdi, -4, "libusb_open() failed");
    const SimDevice& d = bus.devices[dev->index];
    CopyString(manufacturer, mnf_len, "FTDI");
    CopyString(description, desc_len, Description(d.kind));
    CopyString(serial, serial_len, d.serial);
    return 0;
}

int ftdi_usb_open_dev(struct ftdi_context* ftdi, struct libusb_device* dev) {
    Bus& bus = TheBus();
    if (ftdi == nullptr) return -8;
    if (dev == nullptr || dev->index >= bus.devices.size())
        return Error(ftdi, -4, "libusb_open() failed");
    if (bus.fault == standin::Fault::Denied) return Error(ftdi, -4, "libusb_open() failed");
    if (bus.fault == standin::Fault::Busy || bus.owner != nullptr)
        return Error(ftdi, -5,
                     "unable to claim usb device. Make sure the default FTDI driver is not in use");
    const SimDevice& d = bus.devices[dev->index];
    static std::string failure;
    auto wiring = WiringFromEnvironment(failure);
    if (!wiring) return Error(ftdi, -3, failure.c_str());
    try {
        const char* cable = d.kind == FtdiKind::FT232R   ? "ftdi FT232R"
                            : d.kind == FtdiKind::FT232H ? "ftdi FT232H"
                                                         : "ftdi FT2232H";
        bus.board = std::make_unique<standin::SimBoard>(cable);
    } catch (const std::exception& e) {
        failure = e.what();
        return Error(ftdi, -3, failure.c_str());
    }
    bus.chip = std::make_unique<standin::FtdiChip>(d.kind, *wiring, *bus.board);
    bus.owner = Ctx(ftdi);
    Context* c = Ctx(ftdi);
    c->open = true;
    c->device = dev->index;
    ftdi->type = d.kind == FtdiKind::FT232R   ? TYPE_R
                 : d.kind == FtdiKind::FT232H ? TYPE_232H
                                              : TYPE_2232H;
    ftdi->usb_dev = reinterpret_cast<libusb_device_handle*>(bus.handles[dev->index].get());
    ftdi->baudrate = 9600;
    bus.chip->ControlRequest(); // the reset of the chip on opening
    return 0;
}

int ftdi_set_latency_timer(struct ftdi_context* ftdi, unsigned char latency) {
    if (latency < 1) return Error(ftdi, -1, "latency out of range. Only valid for 1-255");
    standin::FtdiChip* chip = ChipOf(ftdi);
    if (chip == nullptr) return Error(ftdi, -3, "USB device unavailable");
    if (chip->Gone()) return Error(ftdi, -2, "unable to set latency timer");
    chip->ControlRequest();
    chip->SetLatencyTimer(latency);
    return 0;
}

int ftdi_set_bitmode(struct ftdi_context* ftdi, unsigned char bitmask, unsigned char mode) {
    standin::FtdiChip* chip = ChipOf(ftdi);
    if (chip == nullptr) return Error(ftdi, -2, "USB device unavailable");
    if (chip->Gone() || !chip->SetBitMode(bitmask, mode))
        return Error(ftdi, -1,
                     "unable to configure bitbang mode. Perhaps not a BM/2232C type chip?");
    ftdi->bitbang_enabled = mode != BITMODE_RESET;
    ftdi->bitbang_mode = mode;
    return 0;
}

int ftdi_set_baudrate(struct ftdi_context* ftdi, int baudrate) {
    if (baudrate <= 0) return Error(ftdi, -1, "Silly baudrate <= 0.");
    standin::FtdiChip* chip = ChipOf(ftdi);
    if (chip == nullptr) return Error(ftdi, -3, "USB device unavailable");
    if (chip->Gone()) return Error(ftdi, -2, "Setting new baudrate failed");
    if (!chip->SetBaudRate(baudrate)) return Error(ftdi, -1, "Unsupported baudrate");
    ftdi->baudrate = baudrate;
    return 0;
}

int ftdi_tcioflush(struct ftdi_context* ftdi) {
    standin::FtdiChip* chip = ChipOf(ftdi);
    if (chip == nullptr) return Error(ftdi, -3, "USB device unavailable");
    if (chip->Gone()) return Error(ftdi, -1, "FTDI purge of RX buffer failed");
    chip->ControlRequest(); // one request for each direction
    chip->ControlRequest();
    chip->Purge();
    return 0;
}

int ftdi_write_data(struct ftdi_context* ftdi, const unsigned char* buf, int size) {
    standin::FtdiChip* chip = ChipOf(ftdi);
    if (chip == nullptr) return Error(ftdi, -666, "USB device unavailable");
    if (buf == nullptr || size < 0) return Error(ftdi, -1, "usb bulk write failed");
    Context* c = Ctx(ftdi);
    const std::size_t room =
        c->pendingRead != nullptr ? static_cast<std::size_t>(c->pendingRead->tc.size) : 0;
    if (chip->Write({buf, static_cast<std::size_t>(size)}, room) !=
        standin::FtdiChip::WriteResult::Done)
        return Error(ftdi, -1, "usb bulk write failed");
    return size;
}

struct ftdi_transfer_control* ftdi_write_data_submit(struct ftdi_context* ftdi, unsigned char* buf,
                                                     int size) {
    standin::FtdiChip* chip = ChipOf(ftdi);
    if (chip == nullptr || chip->Gone()) return nullptr;
    auto* t = new Transfer;
    t->tc = {0, buf, size, 0, ftdi, nullptr};
    t->result = ftdi_write_data(ftdi, buf, size);
    t->tc.completed = 1;
    t->tc.offset = t->result > 0 ? t->result : 0;
    return &t->tc;
}

struct ftdi_transfer_control* ftdi_read_data_submit(struct ftdi_context* ftdi, unsigned char* buf,
                                                    int size) {
    standin::FtdiChip* chip = ChipOf(ftdi);
    Context* c = ftdi != nullptr ? Ctx(ftdi) : nullptr;
    if (chip == nullptr || chip->Gone() || c->pendingRead != nullptr || buf == nullptr || size < 0)
        return nullptr;
    auto* t = new Transfer;
    t->read = true;
    t->tc = {0, buf, size, 0, ftdi, nullptr};
    c->pendingRead = t;
    return &t->tc;
}

// A read takes what the chip has queued for it; when that is less than
// asked, it waits for its time-out and returns what came.
int ftdi_transfer_data_done(struct ftdi_transfer_control* tc) {
    if (tc == nullptr) return -1;
    Transfer* t = reinterpret_cast<Transfer*>(tc);
    int result = t->result;
    if (t->read) {
        ftdi_context* ftdi = tc->ftdi;
        Ctx(ftdi)->pendingRead = nullptr;
        standin::FtdiChip* chip = ChipOf(ftdi);
        if (chip == nullptr || chip->Gone()) {
            result = Error(ftdi, -1, "usb bulk read failed");
        } else {
            result = static_cast<int>(chip->Read({tc->buf, static_cast<std::size_t>(tc->size)}));
            if (result < tc->size)
                TheBus().board->Spend(std::chrono::milliseconds(ftdi->usb_read_timeout));
        }
    }
    delete t;
    return result;
}

void ftdi_transfer_data_cancel(struct ftdi_transfer_control* tc, struct timeval* to) {
    (void)to;
    if (tc == nullptr) return;
    Transfer* t = reinterpret_cast<Transfer*>(tc);
    if (t->read && tc->ftdi != nullptr && Ctx(tc->ftdi)->pendingRead == t)
        Ctx(tc->ftdi)->pendingRead = nullptr;
    delete t;
}

const char* ftdi_get_error_string(struct ftdi_context* ftdi) {
    return ftdi != nullptr && ftdi->error_str != nullptr ? ftdi->error_str : "";
}

// ---- the model clock ---------------------------------------------------------------------

uint64_t quillon_standin_now_ns(void) {
    const Bus& bus = TheBus();
    return bus.baseNs + (bus.board ? bus.board->NowNs() : 0);
}

void quillon_standin_sleep_ms(uint32_t ms) {
    Bus& bus = TheBus();
    if (bus.board)
        bus.board->SleepMs(ms);
    else
        bus.baseNs += uint64_t{ms} * 1000000;
}

uint64_t quillon_standin_count(void) {
    const Bus& bus = TheBus();
    return bus.countBase + (bus.chip ? bus.chip->RoundTrips() : 0);
}

} // extern "C"
#pragma GCC visibility pop
