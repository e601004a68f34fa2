// Identification and release against the simulated part: every catalogue
// part, the empty cable, a part outside the catalogue, a part on a slow
// clock, abort, and the exact instruction stream of an identification.
#include "SimHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

using harness::SimBench;

namespace {

class IdentifyEachPart : public ::testing::TestWithParam<std::string> {};

TEST_P(IdentifyEachPart, NamesSizesFuseKindAndFuseBytesAsStoredInThePart) {
    SimBench b(GetParam());
    ASSERT_TRUE(b.opened);
    const avrsim::PartInfo& part = b.sim->Part();
    if (part.fuses != avrsim::FuseLayout::None) {
        // Values other than the factory ones, so the engine must really read
        // them; CKSEL stays on the internal oscillator and RSTDISBL and DWEN
        // unprogrammed, wherever a family keeps them, so the part still answers.
        const auto fixed = part.fixedFuseBits;
        const auto f = part.factoryFuses;
        b.sim->SetFuses(static_cast<uint8_t>((0x52 & ~fixed[0]) | (f[0] & fixed[0])),
                        static_cast<uint8_t>((0xCF & ~fixed[1]) | (f[1] & fixed[1])),
                        static_cast<uint8_t>((0xF9 & ~fixed[2]) | (f[2] & fixed[2])));
    }
    // A recognisable program, to check the framing after identification.
    std::vector<uint8_t> image(part.flashBytes);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7 + 3);
    b.sim->SetFlash(image);

    ASSERT_TRUE(b.Identify());
    const int row = FindDeviceRow(part.signature[1], part.signature[2]);
    ASSERT_GT(row, 0);
    const TAVRdesc& desc = AVRDeviceTable[static_cast<std::size_t>(row)];
    EXPECT_EQ(b.engine->AVRversion(), GetParam());
    EXPECT_EQ(b.engine->DeviceIndex(), row);
    EXPECT_EQ(b.engine->FlashSize(), static_cast<int32_t>(part.flashBytes));
    EXPECT_EQ(b.engine->EEpromSize(), static_cast<int32_t>(part.eepromBytes));
    EXPECT_EQ(b.engine->AVRfuse(), desc.FuseKind);
    EXPECT_EQ(b.status.text, "Atmel AVR Device found");
    EXPECT_EQ(b.status.color, clNavy);
    EXPECT_EQ(b.events.text, "start stop");
    EXPECT_EQ(b.progress.position, b.progress.min);

    const auto fuses = b.sim->Fuses();
    switch (part.fuses) {
    case avrsim::FuseLayout::None:
        EXPECT_EQ(b.engine->AVRlfb(), 0xFF);
        EXPECT_EQ(b.engine->AVRhfb(), 0xFF);
        EXPECT_EQ(b.engine->AVRefb(), 0xFF);
        break;
    case avrsim::FuseLayout::SingleByte:
        EXPECT_EQ(b.engine->AVRlfb(), fuses[0]);
        break;
    case avrsim::FuseLayout::LowHighExt:
        EXPECT_EQ(b.engine->AVRefb(), fuses[2]);
        [[fallthrough]];
    case avrsim::FuseLayout::LowHigh:
        EXPECT_EQ(b.engine->AVRlfb(), fuses[0]);
        EXPECT_EQ(b.engine->AVRhfb(), fuses[1]);
        break;
    }

    // The part is still in step: the first words read back as programmed.
    ASSERT_TRUE(b.engine->ReadFlash(0, 64));
    for (uint32_t w = 0; w < 32; ++w)
        ASSERT_EQ(b.engine->FlashBuffer[w],
                  static_cast<uint32_t>(image[2 * w] | image[2 * w + 1] << 8))
            << "word " << w;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, IdentifyEachPart,
                         ::testing::ValuesIn(harness::CataloguePartNames()),
                         [](const auto& info) { return info.param; });

// Every catalogue row against the simulated part of its signature, which
// follows the parts' datasheets on its own: the names sold with it, sizes,
// page, fuse bytes, extended address, how a write is watched and ended. The
// engine's waits cover the part's busy times.
TEST(Catalogue, EveryRowDescribesThePartOfItsSignature) {
    std::size_t outside = 0;
    for (const avrsim::PartInfo& p : avrsim::AllParts()) {
        if (!p.present) continue;
        SCOPED_TRACE(std::string(p.names));
        const int row = FindDeviceRow(p.signature[1], p.signature[2]);
        if (row < 0) {
            ++outside;
            continue;
        }
        const TAVRdesc& d = AVRDeviceTable[static_cast<std::size_t>(row)];
        EXPECT_EQ(d.Signature0, p.signature[0]);
        EXPECT_EQ(d.Names, p.names);
        EXPECT_EQ(d.Name, p.name);
        EXPECT_EQ(d.FlashSize, static_cast<int32_t>(p.flashBytes));
        EXPECT_EQ(d.EEpromSize, static_cast<int32_t>(p.eepromBytes));
        EXPECT_EQ(d.PageWords, p.pageWords);
        EXPECT_EQ(d.FuseKind, static_cast<uint8_t>(p.fuses))
            << "none, single, low + high, + extended";
        EXPECT_EQ(d.FuseForm == TFuseForm::SingleByte, p.fuses == avrsim::FuseLayout::SingleByte);
        EXPECT_EQ(d.ExtendedAddress(), p.ExtendedAddress());
        EXPECT_EQ(d.EraseEndsAtReset, p.eraseEndsAtReset);
        if (d.Poll == TPollMethod::ReadyBusy) {
            EXPECT_TRUE(p.hasPollInstruction);
        } else {
            EXPECT_EQ(d.FlashPollValue, p.flashPoll);
            EXPECT_EQ(d.EEpromPollErase, p.eepromPollErase);
            EXPECT_EQ(d.EEpromPollWrite, p.eepromPollWrite);
        }
        EXPECT_GE(d.FlashBusyUs, p.flashBusyUs);
        EXPECT_GE(d.EEpromBusyUs, p.eepromBusyUs);
        EXPECT_GE(d.EraseBusyUs, p.eraseBusyUs);
        if (d.FuseKind > 0) {
            EXPECT_GE(d.FuseBusyUs, p.fuseBusyUs);
        }
    }
    EXPECT_EQ(avrsim::AllParts().size() - 1 - outside, AVRDeviceTable.size() - 1)
        << "every row has its part";
    EXPECT_EQ(outside, 1u) << "one Atmel part stays outside the catalogue for the tests";
}

TEST(Identify, InstructionStreamOfAPagedPartReadsItsThreeFuseBytes) {
    SimBench b("ATmega16");
    ASSERT_TRUE(b.Identify());
    EXPECT_EQ(b.wire.Text(), "~1 R+ ~1 R- ~30 ~50 AC 53 00 00 30 00 00 00 30 00 01 00 30 00 02 00 "
                             "50 00 00 00 58 08 00 00 50 08 00 00");
}

TEST(Identify, ClassicPartIsSentNoFuseReads) {
    SimBench b("AT90S2313");
    ASSERT_TRUE(b.Identify());
    EXPECT_EQ(b.wire.Text(), "~1 R+ ~1 R- ~30 ~50 AC 53 00 00 30 00 00 00 30 00 01 00 30 00 02 00");
}

TEST(Identify, EmptyCableGivesUpAfterHundredAttempts) {
    SimBench b("none");
    int attempts = 0;
    b.engine->OnUpdateEvent = [&](TAVRisp*) {
        ++attempts;
        return true;
    };
    EXPECT_FALSE(b.Identify());
    EXPECT_EQ(attempts, 100);
    EXPECT_EQ(b.engine->SpeedFactor(), 1001u);
    EXPECT_EQ(b.status.text, "Atmel Device NOT found");
    EXPECT_EQ(b.status.color, clRed);
    EXPECT_EQ(b.progress.position, b.progress.min);
    EXPECT_EQ(b.events.text, "start stop");
    EXPECT_EQ(b.engine->AVRversion(), "NONE");
    EXPECT_EQ(b.engine->FlashSize(), 0);
    // One RESET pulse at power-up, then one between attempts.
    EXPECT_EQ(std::count(b.wire.tokens.begin(), b.wire.tokens.end(), "R+"), 100);
}

TEST(Identify, AtmelPartOutsideTheCatalogueIsAnsweredButNotSelected) {
    std::string outsider;
    for (const avrsim::PartInfo& p : avrsim::AllParts())
        if (p.present && FindDeviceRow(p.signature[1], p.signature[2]) < 0)
            outsider = std::string(p.name);
    ASSERT_FALSE(outsider.empty()) << "the simulator offers a part the catalogue does not hold";

    SimBench b(outsider);
    EXPECT_TRUE(b.Identify());
    EXPECT_EQ(b.status.text, "Atmel AVR Device NOT found");
    EXPECT_EQ(b.status.color, clRed);
    EXPECT_EQ(b.engine->DeviceIndex(), DefaultDevice);
    EXPECT_EQ(b.engine->AVRversion(), "NONE");
    EXPECT_EQ(b.engine->FlashSize(), 0);
    EXPECT_EQ(b.engine->EEpromSize(), 0);
    EXPECT_EQ(b.engine->AVRlfb(), 0);
    EXPECT_EQ(b.events.text, "start stop");
}

TEST(Identify, SlowPartIsFoundOnceTheBitClockIsSlowEnough) {
    // At 50 kHz a SCK phase must last more than 40 us (40 port accesses);
    // SCK is high for 2 x SpeedFactor status reads plus one register read,
    // so the part first keeps step at SpeedFactor 21, after two failed
    // attempts and the RESET pulses that bring it back into frame.
    SimBench b("ATmega32", 50000);
    int attempts = 0;
    b.engine->OnUpdateEvent = [&](TAVRisp*) {
        ++attempts;
        return true;
    };
    ASSERT_TRUE(b.Identify());
    EXPECT_EQ(b.engine->AVRversion(), "ATmega32");
    EXPECT_EQ(attempts, 3);
    EXPECT_EQ(b.engine->SpeedFactor(), 21u);

    // Operations keep the speed found.
    b.FillBuffers(3);
    ASSERT_TRUE(b.engine->WriteEEprom(0, 16));
    ASSERT_TRUE(b.engine->VerifyEEprom(16));
    EXPECT_EQ(b.engine->SpeedFactor(), 21u);
}

TEST(Identify, AbortDuringIdentificationReportsTheAttemptAndForgetsThePart) {
    SimBench b("ATmega16");
    ASSERT_TRUE(b.Identify());
    b.sim->Disconnect();
    int attempts = 0;
    b.engine->OnUpdateEvent = [&](TAVRisp* sender) {
        if (++attempts == 3) sender->Abort();
        return true;
    };
    EXPECT_FALSE(b.Identify());
    EXPECT_EQ(b.status.text, "Operation aborted at address 0x0003");
    EXPECT_EQ(b.status.color, clRed);
    EXPECT_EQ(b.events.text, "start stop");
    EXPECT_EQ(b.engine->AVRversion(), "NONE");
    EXPECT_EQ(b.engine->FlashSize(), 0);
    EXPECT_EQ(b.engine->AVRfuse(), 0);
    EXPECT_EQ(b.engine->AVRlfb(), 0);
    EXPECT_EQ(b.engine->AVRhfb(), 0);

    // An update event answering false stops it the same way.
    b.engine->OnUpdateEvent = [](TAVRisp*) { return false; };
    EXPECT_FALSE(b.Identify());
    EXPECT_EQ(b.status.text, "Operation aborted at address 0x0001");
}

TEST(Release, LeavesEveryLineHighAfterALowPulseOnReset) {
    SimBench b("ATmega162");
    ASSERT_TRUE(b.Identify());
    const uint8_t efb = b.engine->AVRefb();
    b.wire.Clear();
    b.wire.logResetEdges = true;
    b.events.text.clear();
    b.engine->Release();
    EXPECT_EQ(b.wire.Text(), "R+ ~50 R- ~50 R+");
    EXPECT_EQ(b.sim->DataRegister() & 0xFE, 0xFE) << "RESET, SCK, MOSI and the upper lines high";
    EXPECT_FALSE(b.sim->Armed()) << "the part runs its program again";
    EXPECT_EQ(b.status.text, "AVR device released");
    EXPECT_EQ(b.status.color, clNavy);
    EXPECT_EQ(b.events.text, "");
    EXPECT_EQ(b.engine->AVRversion(), "NONE");
    EXPECT_EQ(b.engine->AVRlfb(), 0);
    EXPECT_EQ(b.engine->AVRhfb(), 0);
    EXPECT_EQ(b.engine->AVRefb(), efb);
    EXPECT_EQ(b.engine->SpeedFactor(), 1u);

    // The part can be found again afterwards.
    ASSERT_TRUE(b.Identify());
    EXPECT_EQ(b.engine->AVRversion(), "ATmega162");
}

TEST(Catalogue, WildcardRowZeroAndUnknownSignatures) {
    EXPECT_EQ(FindDeviceRow(0xFF, 0x37), 0);
    EXPECT_EQ(FindDeviceRow(0x97, 0x01), -1);
}

} // namespace
