#include "UsbaspLink.h"

#include "AVRDeviceTable.h"
#include "EngineText.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

namespace cable {

namespace {

constexpr uint8_t kConnect = 1;
constexpr uint8_t kDisconnect = 2;
constexpr uint8_t kTransmit = 3;
constexpr uint8_t kReadFlash = 4;
constexpr uint8_t kEnableProgramming = 5;
constexpr uint8_t kWriteFlash = 6;
constexpr uint8_t kReadEEprom = 7;
constexpr uint8_t kWriteEEprom = 8;
constexpr uint8_t kSetLongAddress = 9;
constexpr uint8_t kSetIspClock = 10;

constexpr uint8_t kFirstBlock = 1;
constexpr uint8_t kLastBlock = 2;

struct TUsbIds {
    uint16_t Vendor, Product;
    bool NamedByProduct; // shared ids: only the product string says it is a USBasp
};
constexpr std::array<TUsbIds, 2> kIds{{{0x16C0, 0x05DC, true}, {0x03EB, 0xC7B4, false}}};
constexpr const char* kProduct = "USBasp";

// SCK of each clock option, in Hz; 0 is the firmware's own choice.
constexpr std::array<uint32_t, 13> kSckHz{0,     500,   1000,   2000,   4000,   8000,   16000,
                                          32000, 93750, 187500, 375000, 750000, 1500000};
// More than 2 CPU clocks a phase for a part on a 1 MHz clock.
constexpr int kStartOption = 9;
constexpr int kSlowestOption = 1;
constexpr int kFastestOption = 12;

constexpr unsigned kTimeoutMs = 5000;

constexpr const char* kHeader =
    "10-pin header: 1 MOSI, 5 RESET, 7 SCK, 9 MISO, 2 VCC, 4/6/8/10 GND";

std::string SckText(int option) {
    const uint32_t hz = kSckHz[static_cast<size_t>(option)];
    char text[32];
    if (hz >= 1000000)
        std::snprintf(text, sizeof text, "%g MHz", hz / 1e6);
    else if (hz >= 1000)
        std::snprintf(text, sizeof text, "%g kHz", hz / 1e3);
    else
        std::snprintf(text, sizeof text, "%u Hz", hz);
    return text;
}

uint32_t PeriodNs(int option) {
    return 1000000000u / kSckHz[static_cast<size_t>(option)];
}

std::string List(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& s : items)
        text += (text.empty() ? "" : ", ") + s;
    return text;
}

} // namespace

TUsbaspLink::TUsbaspLink(TUsbaspOptions Options, bool Simulate)
    : Options_(std::move(Options)), Simulate_(Simulate) {}

TUsbaspLink::~TUsbaspLink() {
    Close();
}

std::string TUsbaspLink::Description() const {
    std::string text = Simulate_ ? "USBasp (simulated)" : "USBasp";
    if (!Place_.empty()) text += " at " + Place_;
    if (!Serial_.empty()) text += ", serial " + Serial_;
    if (IsOpen()) text += ", " + PaceText();
    return text + "; " + kHeader;
}

std::string TUsbaspLink::PaceText() const {
    if (!IsOpen()) return {};
    if (!ClockSettable_)
        return "SCK set by the USBasp itself (its firmware cannot set the clock; its slow-clock "
               "jumper slows it for parts on a slow clock)";
    return "SCK " + SckText(Option_);
}

bool TUsbaspLink::Fail(std::string Text) {
    Failure_ = std::move(Text);
    return false;
}

// The USBasp is of no use any more: the failure is said, the device and
// libusb let go.
bool TUsbaspLink::Broken(std::string Text) {
    Failure_ = std::move(Text);
    LetGo();
    return false;
}

void TUsbaspLink::LetGo() {
    const TLibusbApi& api = Lib_.Api();
    if (Handle_ != nullptr) api.Close(Handle_);
    Handle_ = nullptr;
    Connected_ = false;
    if (Context_ != nullptr) api.Exit(Context_);
    Context_ = nullptr;
}

bool TUsbaspLink::Request(uint8_t Code, uint16_t Value, uint16_t Index, std::span<uint8_t> Data,
                          bool Out, const std::string& What, int* Moved) {
    if (Handle_ == nullptr) return Fail("the USBasp is not open");
    const unsigned type = unsigned{LIBUSB_REQUEST_TYPE_VENDOR} | unsigned{LIBUSB_RECIPIENT_DEVICE} |
                          unsigned{Out ? LIBUSB_ENDPOINT_OUT : LIBUSB_ENDPOINT_IN};
    const int r =
        Lib_.Api().ControlTransfer(Handle_, static_cast<uint8_t>(type), Code, Value, Index,
                                   Data.data(), static_cast<uint16_t>(Data.size()), kTimeoutMs);
    if (r == LIBUSB_ERROR_NO_DEVICE)
        return Broken("the USBasp went away while " + What +
                      " (unplugged?): plug it in again and start over");
    if (r == LIBUSB_ERROR_TIMEOUT)
        return Broken("the USBasp did not answer while " + What +
                      ": unplug it, plug it in again and start over");
    if (r < 0) return Broken("the USBasp failed while " + What + ": " + LibusbErrorText(r));
    if (Moved != nullptr)
        *Moved = r;
    else if (static_cast<size_t>(r) != Data.size())
        return Broken("the USBasp moved " + std::to_string(r) + " of " +
                      std::to_string(Data.size()) + " bytes while " + What);
    return true;
}

bool TUsbaspLink::Open() {
    if (IsOpen()) return true;
    Failure_.clear();
    std::string error;
    if (!Lib_.Load(Simulate_, error)) return Fail(error);
    if (const int r = Lib_.Api().Init(&Context_); r < 0) {
        Context_ = nullptr;
        return Fail("libusb could not start: " + LibusbErrorText(r));
    }
    if (!Find(error)) return Broken(error);
    // The clock request tells newer firmware from older: older firmware
    // answers nothing to it and keeps its own clock.
    ClockSettable_ = true;
    if (!SetClock(kStartOption)) {
        if (!IsOpen()) return false;
        ClockSettable_ = false;
        Option_ = 0;
    }
    Failure_.clear();
    return true;
}

bool TUsbaspLink::Find(std::string& Why) {
    const TLibusbApi& api = Lib_.Api();
    libusb_device** list = nullptr;
    const ssize_t n = api.GetDeviceList(Context_, &list);
    if (n < 0) {
        Why = "cannot list the USB devices: " + LibusbErrorText(static_cast<int>(n));
        return false;
    }
    struct TFound {
        libusb_device_handle* Handle;
        std::string Serial, Place;
    };
    std::vector<TFound> found;
    std::vector<std::string> denied, busy, others, foreign;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device* dev = list[i];
        libusb_device_descriptor desc{};
        if (api.GetDeviceDescriptor(dev, &desc) < 0) continue;
        const auto ids = std::find_if(kIds.begin(), kIds.end(), [&](const TUsbIds& id) {
            return id.Vendor == desc.idVendor && id.Product == desc.idProduct;
        });
        if (ids == kIds.end()) continue;
        const std::string place = "bus " + std::to_string(api.GetBusNumber(dev)) + " device " +
                                  std::to_string(api.GetDeviceAddress(dev));
        libusb_device_handle* handle = nullptr;
        if (const int r = api.Open(dev, &handle); r < 0) {
            (r == LIBUSB_ERROR_ACCESS ? denied
             : r == LIBUSB_ERROR_BUSY ? busy
                                      : others)
                .push_back(place + (r == LIBUSB_ERROR_ACCESS || r == LIBUSB_ERROR_BUSY
                                        ? ""
                                        : " (" + LibusbErrorText(r) + ")"));
            continue;
        }
        std::array<unsigned char, 128> text{};
        if (ids->NamedByProduct) {
            const int len =
                desc.iProduct != 0
                    ? api.GetStringDescriptorAscii(handle, desc.iProduct, text.data(), text.size())
                    : 0;
            const std::string product(reinterpret_cast<const char*>(text.data()),
                                      static_cast<size_t>(std::max(len, 0)));
            if (product != kProduct) {
                foreign.push_back(place + " (\"" + product + "\")");
                api.Close(handle);
                continue;
            }
        }
        std::string serial;
        if (desc.iSerialNumber != 0) {
            const int len =
                api.GetStringDescriptorAscii(handle, desc.iSerialNumber, text.data(), text.size());
            if (len > 0)
                serial.assign(reinterpret_cast<const char*>(text.data()), static_cast<size_t>(len));
        }
        found.push_back({handle, serial, place});
    }
    api.FreeDeviceList(list, 1);

    std::vector<std::string> serials;
    for (const TFound& f : found)
        serials.push_back(f.Serial.empty() ? "(none) at " + f.Place : f.Serial);
    auto chosen = found.end();
    if (!Options_.Serial.empty()) {
        chosen = std::find_if(found.begin(), found.end(),
                              [&](const TFound& f) { return f.Serial == Options_.Serial; });
        if (chosen == found.end() && !found.empty())
            Why =
                "no USBasp with serial " + Options_.Serial + " (plugged in: " + List(serials) + ")";
    } else if (found.size() == 1) {
        chosen = found.begin();
    } else if (found.size() > 1) {
        Why = "several USBasps are plugged in (serials " + List(serials) +
              "): choose one with --cable usbasp:serial=SERIAL";
    }
    for (auto f = found.begin(); f != found.end(); ++f)
        if (f != chosen) api.Close(f->Handle);
    if (chosen != found.end()) {
        Handle_ = chosen->Handle;
        Serial_ = chosen->Serial;
        Place_ = chosen->Place;
        return true;
    }
    if (!Why.empty()) return false;
    if (!denied.empty())
        Why = "permission denied on the USBasp at " + List(denied) +
              ": install the udev rule 60-quillon-usbasp.rules (the Debian package does; or copy "
              "it to /etc/udev/rules.d and run sudo udevadm control --reload), then plug the "
              "USBasp in again";
    else if (!busy.empty())
        Why = "the USBasp at " + List(busy) + " is in use by another program: close it and retry";
    else if (!others.empty())
        Why = "cannot open the USBasp at " + List(others);
    else
        Why = "no USBasp found (USB ids 16C0:05DC \"USBasp\", or 03EB:C7B4 on older boards)" +
              (foreign.empty() ? std::string()
                               : ", only other devices with its ids at " + List(foreign)) +
              ": is it plugged in? lsusb lists the USB devices";
    return false;
}

void TUsbaspLink::Close() {
    if (Handle_ != nullptr) Disconnect();
    LetGo();
    Place_.clear();
    Serial_.clear();
}

void TUsbaspLink::Disconnect() {
    if (!Connected_) return;
    Connected_ = false;
    std::array<uint8_t, 4> none{};
    int moved = 0;
    Request(kDisconnect, 0, 0, none, false, "letting the part go", &moved);
}

bool TUsbaspLink::SetClock(int Option) {
    std::array<uint8_t, 4> answer{};
    int moved = 0;
    if (!Request(kSetIspClock, static_cast<uint16_t>(Option), 0, answer, false, "setting its clock",
                 &moved))
        return false;
    if (moved < 1 || answer[0] != 0) return false; // older firmware, or an option it refused
    // The firmware takes the clock when it next connects.
    Option_ = Option;
    return true;
}

void TUsbaspLink::PowerUp() {
    Disconnect();
}

void TUsbaspLink::ResetPulse() {
    Disconnect();
}

void TUsbaspLink::Release() {
    Disconnect();
}

bool TUsbaspLink::ProgrammingEnable() {
    Disconnect();
    if (!IsOpen()) return false;
    Failure_.clear();
    std::array<uint8_t, 4> answer{};
    int moved = 0;
    if (!Request(kConnect, 0, 0, answer, false, "connecting to the part", &moved)) return false;
    Connected_ = true;
    if (!Request(kEnableProgramming, 0, 0, answer, false, "entering programming mode", &moved))
        return false;
    // Firmware that gives no status leaves it to the signature.
    if (moved == 0 || answer[0] == 0) return true;
    return Fail("the USBasp found no part answering at " + PaceText() + ": check the wiring (" +
                kHeader + ") and the part's power" +
                (ClockSettable_ ? std::string()
                                : "; for a part on a slow clock close its slow-clock jumper"));
}

bool TUsbaspLink::Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) {
    for (size_t i = 0; i < Out.size(); ++i) {
        const TIspBytes& o = Out[i];
        std::array<uint8_t, 4> answer{};
        if (!Request(kTransmit, static_cast<uint16_t>(o[0] | (o[1] << 8)),
                     static_cast<uint16_t>(o[2] | (o[3] << 8)), answer, false,
                     "passing the instruction " + Hex(o[0], 2) + " " + Hex(o[1], 2) + " " +
                         Hex(o[2], 2) + " " + Hex(o[3], 2) + " to the part"))
            return false;
        if (i < In.size()) In[i] = answer;
    }
    return true;
}

bool TUsbaspLink::SlowDown() {
    if (!IsOpen() || !ClockSettable_ || Option_ <= kSlowestOption) return false;
    Disconnect();
    return SetClock(Option_ - 1);
}

void TUsbaspLink::SpeedUp(const std::function<bool()>& Answers,
                          const std::function<bool()>& Confirms) {
    if (!IsOpen() || !ClockSettable_) return;
    const int start = Option_;
    int fastest = start;
    for (int option = start + 1; option <= kFastestOption; ++option) {
        if (!SetClock(option) || !Answers()) break;
        fastest = option;
    }
    if (!IsOpen()) return;
    // A margin on the SCK period, unless the part follows the USBasp's
    // fastest clock; never slower than the pace it had.
    const uint32_t wanted = PaceWithMargin(PeriodNs(fastest));
    int choice = fastest == kFastestOption ? fastest : start;
    for (int option = fastest; option > start && choice == start; --option)
        if (PeriodNs(option) >= wanted) choice = option;
    // The clock takes effect when the USBasp connects again.
    if (SetClock(choice) && ProgrammingEnable() && (choice == start || Confirms())) return;
    if (IsOpen() && SetClock(start)) ProgrammingEnable();
}

uint64_t TUsbaspLink::NowUs() {
    if (Lib_.Api().NowNs != nullptr) return Lib_.Api().NowNs() / 1000;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void TUsbaspLink::Sleep(uint32_t Milliseconds) {
    if (Lib_.Api().SleepMs != nullptr)
        Lib_.Api().SleepMs(Milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

bool TUsbaspLink::SetPart(const TAVRdesc& Part) {
    PageBytes_ = 2u * Part.PageWords;
    FlashBytes_ = static_cast<uint32_t>(Part.FlashSize);
    return true;
}

// A part above 64 KB takes the block's whole address before each block;
// the firmware keeps it and counts on from there.
bool TUsbaspLink::SetLongAddress(uint32_t Address, const std::string& What) {
    if (FlashBytes_ <= 0x10000) return true;
    std::array<uint8_t, 4> none{};
    int moved = 0;
    return Request(kSetLongAddress, static_cast<uint16_t>(Address),
                   static_cast<uint16_t>(Address >> 16), none, false, What, &moved);
}

bool TUsbaspLink::WriteBlocks(uint8_t Code, uint32_t Address, std::span<const uint8_t> Data,
                              const std::string& What) {
    const bool flash = Code == kWriteFlash;
    for (size_t done = 0; done < Data.size();) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(MaxBlockBytes, Data.size() - done));
        const uint32_t at = Address + static_cast<uint32_t>(done);
        const std::string what = What + " at 0x" + Hex(at, 4);
        if (!SetLongAddress(at, what)) return false;
        // wIndex: page size bits 0-7 in its low byte; the block flags and
        // page size bits 8-11 in its high byte.
        const uint32_t page = flash ? PageBytes_ : 0;
        const uint8_t flags = static_cast<uint8_t>((done == 0 ? kFirstBlock : 0) |
                                                   (done + n == Data.size() ? kLastBlock : 0));
        const auto index =
            static_cast<uint16_t>((page & 0xFF) | ((flags | ((page & 0xF00) >> 4)) << 8));
        std::vector<uint8_t> block(Data.begin() + static_cast<std::ptrdiff_t>(done),
                                   Data.begin() + static_cast<std::ptrdiff_t>(done + n));
        if (!Request(Code, static_cast<uint16_t>(at), index, block, true, what)) return false;
        done += n;
    }
    return true;
}

bool TUsbaspLink::ReadBlocks(uint8_t Code, uint32_t Address, std::span<uint8_t> Data,
                             const std::string& What) {
    for (size_t done = 0; done < Data.size();) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(MaxBlockBytes, Data.size() - done));
        const uint32_t at = Address + static_cast<uint32_t>(done);
        const std::string what = What + " at 0x" + Hex(at, 4);
        if (!SetLongAddress(at, what)) return false;
        if (!Request(Code, static_cast<uint16_t>(at), 0, Data.subspan(done, n), false, what))
            return false;
        done += n;
    }
    return true;
}

bool TUsbaspLink::WriteFlashBlock(uint32_t Address, std::span<const uint8_t> Data) {
    return WriteBlocks(kWriteFlash, Address, Data, "writing Flash");
}

bool TUsbaspLink::ReadFlashBlock(uint32_t Address, std::span<uint8_t> Data) {
    return ReadBlocks(kReadFlash, Address, Data, "reading Flash");
}

bool TUsbaspLink::WriteEEpromBlock(uint32_t Address, std::span<const uint8_t> Data) {
    return WriteBlocks(kWriteEEprom, Address, Data, "writing EEPROM");
}

bool TUsbaspLink::ReadEEpromBlock(uint32_t Address, std::span<uint8_t> Data) {
    return ReadBlocks(kReadEEprom, Address, Data, "reading EEPROM");
}

std::unique_ptr<TIspLink> MakeUsbaspLink(const std::vector<TCableOption>& options, bool simulate,
                                         std::string& error) {
    if (!CheckCableOptions(options, {"serial"}, "usbasp", error)) return nullptr;
    TUsbaspOptions o;
    o.Serial = CableOption(options, "serial").value_or("");
    if (CableOption(options, "serial") && o.Serial.empty()) {
        error = "serial= needs the USBasp's serial number";
        return nullptr;
    }
    return std::make_unique<TUsbaspLink>(std::move(o), simulate);
}

std::string UsbaspWiringText() {
    return "USBasp: its 10-pin ISP cable to the part's ISP pins:\n"
           "  pin 1 MOSI, 5 RESET, 7 SCK, 9 MISO, 2 VCC, 4 6 8 10 GND (3 not connected)\n"
           "  with a 10-to-6 pin adapter: 1 MISO, 2 VCC, 3 SCK, 4 MOSI, 5 RESET, 6 GND\n"
           "The power jumper lets the USBasp feed the part 5 V; leave it open when the part has "
           "its own supply. Firmware without the clock setting needs the slow-clock jumper "
           "closed for a part on a clock below about 1.5 MHz.";
}

std::string UsbaspOptionsText() {
    return "usbasp[:serial=SERIAL]  the USBasp with that serial number, needed only when several "
           "are plugged in";
}

} // namespace cable
