// The engine through the built simulated port library, loaded with dlopen
// the way the programs load it: by name beside the executable, or by path.
#include "AVRisp.h"
#include "EngineHarness.h"
#include "ScopedEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const std::string SimLibrary = std::string(QUILLON_BIN_DIR) + "/libportio-sim.so";

// The port library named by `setting`, simulating a fresh ATmega16 on its default clock.
void ChooseSimulatedAtmega16(ScopedEnv& env, const char* setting) {
    env.Set(PortLibraryVariable, setting);
    env.Set("QUILLON_SIM_DEVICE", "ATmega16");
    env.Set("QUILLON_SIM_STATE", nullptr);
    env.Set("QUILLON_SIM_CLOCK_HZ", nullptr);
}

void IdentifyAndRead(TAVRisp& engine, harness::RecordingStatus& status) {
    ASSERT_TRUE(engine.Identify()) << status.text;
    EXPECT_EQ(engine.AVRversion(), "ATmega16");
    EXPECT_EQ(status.text, "Atmel AVR Device found");

    engine.FlashBuffer.fill(0);
    ASSERT_TRUE(engine.ReadFlash(0, engine.FlashSize()));
    for (int32_t w = 0; w < engine.FlashSize() / 2; ++w)
        ASSERT_EQ(engine.FlashBuffer[static_cast<std::size_t>(w)], 0xFFFFu)
            << "a fresh chip, word " << w;

    const uint8_t data[] = {0x00, 0x5A, 0xA5, 0xFF, 0x7F, 0x80, 0x12, 0xED};
    std::copy(std::begin(data), std::end(data), engine.EEpromBuffer.begin());
    ASSERT_TRUE(engine.WriteEEprom(0, sizeof data));
    engine.EEpromBuffer.fill(0x33);
    ASSERT_TRUE(engine.ReadEEprom(0, sizeof data));
    for (std::size_t i = 0; i < sizeof data; ++i)
        EXPECT_EQ(engine.EEpromBuffer[i], data[i]) << i;
}

TEST(SimulatedPortLibrary, FoundBesideTheExecutableIdentifiesAndReadsAPart) {
    ASSERT_TRUE(std::filesystem::exists(SimLibrary));
    ScopedEnv env;
    ChooseSimulatedAtmega16(env, "sim");

    harness::RecordingStatus status;
    TAVRisp engine;
    engine.SetStatus(&status);
    ASSERT_TRUE(engine.OpenPort()) << status.text;
    EXPECT_EQ(status.text, "ISP interface is ready");
    EXPECT_TRUE(std::filesystem::equivalent(engine.PortLibraryPath(), SimLibrary))
        << engine.PortLibraryPath();
    IdentifyAndRead(engine, status);
}

TEST(SimulatedPortLibrary, NamedByPath) {
    ScopedEnv env;
    ChooseSimulatedAtmega16(env, SimLibrary.c_str());
    {
        // A refusal names the library and passes on the library's reason.
        env.Set("QUILLON_SIM_DEVICE", "ATmega103");
        TAVRisp refused;
        EXPECT_FALSE(refused.OpenPort());
        EXPECT_EQ(refused.PortError().rfind(SimLibrary + " refused port access: ", 0), 0u)
            << refused.PortError();
        EXPECT_NE(refused.PortError().find("ATmega103"), std::string::npos);
        env.Set("QUILLON_SIM_DEVICE", "ATmega16");
    }

    harness::RecordingStatus status;
    TAVRisp engine;
    engine.SetStatus(&status);
    ASSERT_TRUE(engine.OpenPort()) << status.text;
    EXPECT_EQ(engine.PortLibraryPath(), SimLibrary);
    IdentifyAndRead(engine, status);
}

} // namespace
