// The libftdi1 stand-in through its C interface, loaded as a program loads
// libftdi1: the published facts of the chips it plays, and its cost model.
#include <ftdi.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The stand-in's functions, typed by ftdi.h.
struct Api {
    void* handle =
        dlopen((std::string(QUILLON_BIN_DIR) + "/libstandin-ftdi1.so").c_str(), RTLD_NOW);
    template <typename Fn> Fn Get(const char* name) const {
        Fn fn = nullptr;
        void* p = handle != nullptr ? dlsym(handle, name) : nullptr;
        std::memcpy(&fn, &p, sizeof fn);
        return fn;
    }
#define QUILLON_ENTRY(name) decltype(&::name) name = Get<decltype(&::name)>(#name)
    QUILLON_ENTRY(ftdi_new);
    QUILLON_ENTRY(ftdi_free);
    QUILLON_ENTRY(ftdi_usb_find_all);
    QUILLON_ENTRY(ftdi_list_free);
    QUILLON_ENTRY(ftdi_usb_open_dev);
    QUILLON_ENTRY(ftdi_set_bitmode);
    QUILLON_ENTRY(ftdi_set_baudrate);
    QUILLON_ENTRY(ftdi_set_latency_timer);
    QUILLON_ENTRY(ftdi_write_data);
    QUILLON_ENTRY(ftdi_read_data_submit);
    QUILLON_ENTRY(ftdi_write_data_submit);
    QUILLON_ENTRY(ftdi_transfer_data_done);
#undef QUILLON_ENTRY
    uint64_t (*now)() = Get<uint64_t (*)()>("quillon_standin_now_ns");
    uint64_t (*trips)() = Get<uint64_t (*)()>("quillon_standin_count");
    ~Api() {
        if (handle != nullptr) dlclose(handle);
    }
};

struct FtdiStandin : ::testing::Test {
    Api f;
    ftdi_context* ctx = nullptr;

    // Opens the only board of `kind` on the bus.
    void Open(const char* kind) {
        ASSERT_NE(f.handle, nullptr) << dlerror();
        setenv("QUILLON_SIM_FTDI", kind, 1);
        setenv("QUILLON_SIM_DEVICE", "ATmega328P", 1);
        ctx = f.ftdi_new();
        ftdi_device_list* list = nullptr;
        ASSERT_EQ(f.ftdi_usb_find_all(ctx, &list, 0, 0), 1);
        ASSERT_EQ(f.ftdi_usb_open_dev(ctx, list->dev), 0);
        f.ftdi_list_free(&list);
        ASSERT_EQ(f.ftdi_set_latency_timer(ctx, 1), 0);
    }
    // One write and the read of `answers` bytes under way with it.
    std::vector<uint8_t> Exchange(std::vector<uint8_t> out, std::size_t answers) {
        std::vector<uint8_t> back(answers);
        ftdi_transfer_control* read =
            f.ftdi_read_data_submit(ctx, back.data(), static_cast<int>(answers));
        ftdi_transfer_control* write =
            f.ftdi_write_data_submit(ctx, out.data(), static_cast<int>(out.size()));
        EXPECT_EQ(f.ftdi_transfer_data_done(write), static_cast<int>(out.size()));
        EXPECT_EQ(f.ftdi_transfer_data_done(read), static_cast<int>(answers));
        return back;
    }
    void TearDown() override {
        if (ctx != nullptr) f.ftdi_free(ctx);
        unsetenv("QUILLON_SIM_FTDI");
        unsetenv("QUILLON_SIM_DEVICE");
    }
};

// Synchronous bit-bang: every byte written comes back as the pins sampled
// just before it went out, so byte i + 1 shows byte i on the output pins;
// the pins change at the baud rate or as fast as the full-speed bus carries
// a byte each way, and one write with its read is one round trip.
TEST_F(FtdiStandin, SyncBitBangAnswersOneByteLateAtItsRate) {
    Open("ft232r");
    const uint8_t outputs = 0x17; // TXD, RXD, RTS, DTR; CTS (MISO) and the rest inputs
    ASSERT_EQ(f.ftdi_set_bitmode(ctx, outputs, BITMODE_SYNCBB), 0);
    std::mt19937 rng(5);
    for (const int baud : {1000, 100000, 1000000}) {
        ASSERT_EQ(f.ftdi_set_baudrate(ctx, baud), 0);
        std::vector<uint8_t> out(2000);
        for (uint8_t& b : out)
            b = static_cast<uint8_t>(rng());
        const uint64_t t0 = f.now(), trips = f.trips();
        const std::vector<uint8_t> back = Exchange(out, out.size());
        const double step = std::max(1.0 / baud, (1 + 64.0 / 62) / 1216000);
        EXPECT_NEAR((f.now() - t0) * 1e-9, 1e-3 + out.size() * step, 1e-3 * out.size() * step)
            << baud << " Hz";
        EXPECT_EQ(f.trips() - trips, 1u);
        for (std::size_t i = 1; i < out.size(); ++i)
            ASSERT_EQ(back[i] & outputs, out[i - 1] & outputs) << "byte " << i;
    }
    // Nothing reads the answers: the chip's buffers fill and the write
    // stalls until libusb gives up.
    const uint64_t t0 = f.now();
    std::vector<uint8_t> out(1000, 0x10);
    EXPECT_LT(f.ftdi_write_data(ctx, out.data(), static_cast<int>(out.size())), 0);
    EXPECT_GE(f.now() - t0, 5000000000u);
}

// MPSSE: an unknown command is answered with 0xFA and itself; with
// loopback on, a mode-0 shift reads back what it wrote; the clock is 60 MHz
// / (2 * (1 + divisor)) once divide-by-5 is off.
TEST_F(FtdiStandin, MpsseEchoesBadCommandsAndShiftsAtItsClock) {
    Open("ft232h");
    ASSERT_EQ(f.ftdi_set_bitmode(ctx, 0, BITMODE_MPSSE), 0);
    EXPECT_EQ(Exchange({0xAB, SEND_IMMEDIATE}, 2), (std::vector<uint8_t>{0xFA, 0xAB}));
    std::vector<uint8_t> data(300);
    std::mt19937 rng(9);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    for (const uint16_t divisor : {0, 29, 299}) {
        std::vector<uint8_t> out{DIS_DIV_5,
                                 TCK_DIVISOR,
                                 static_cast<uint8_t>(divisor & 0xFF),
                                 static_cast<uint8_t>(divisor >> 8),
                                 SET_BITS_LOW,
                                 0x00,
                                 0x0B,
                                 LOOPBACK_START,
                                 0x31,
                                 static_cast<uint8_t>(data.size() - 1),
                                 static_cast<uint8_t>((data.size() - 1) >> 8)};
        out.insert(out.end(), data.begin(), data.end());
        out.push_back(SEND_IMMEDIATE);
        const uint64_t t0 = f.now();
        EXPECT_EQ(Exchange(out, data.size()), data) << "divisor " << divisor;
        const double bits = 8.0 * data.size(), clock = 60e6 / (2.0 * (1 + divisor));
        EXPECT_NEAR((f.now() - t0) * 1e-9, 1e-3 + bits / clock, 0.02e-3 + 0.01 * bits / clock);
    }
}

} // namespace
