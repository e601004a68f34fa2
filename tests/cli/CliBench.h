// quillon-isp's commands run in process on a simulated part whose every wait
// only advances the part's virtual clock, and the files they work on.
#pragma once

#include "ConsoleDisplay.h"
#include "IspCommand.h"
#include "SimPortEntries.h"
#include "avrsim/SimTarget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>

namespace clibench {

namespace fs = std::filesystem;

inline std::vector<uint8_t> FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A folder of its own under the temporary folder, removed at the end.
struct TempFolder {
    TempFolder() {
        std::string name = (fs::temp_directory_path() / "quillon-cli-XXXXXX").string();
        EXPECT_NE(mkdtemp(name.data()), nullptr);
        path = name;
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path operator/(const char* name) const { return path / name; }
    fs::path path;
};

// The engine on a simulated part whose every wait only advances the part's clock.
struct Cable {
    explicit Cable(const std::string& device) {
        avrsim::SimConfig cfg;
        cfg.device = device;
        sim = std::make_unique<avrsim::SimTarget>(cfg, &clock);
        engine.SetStatus(&status);
        engine.SleepHook = [this](uint32_t ms) { clock.Advance(std::chrono::milliseconds(ms)); };
        EXPECT_TRUE(engine.OpenPort(SimPortEntries(*sim)));
    }

    int Run(const std::vector<std::string>& args) {
        out.str({});
        err.str({});
        std::string error;
        const auto command = cli::ParseCommandLine(args, error);
        EXPECT_TRUE(command) << error;
        if (!command) return cli::ExitUsage;
        return cli::RunCommand(*command, engine, out, err);
    }

    std::ostringstream out, err;
    cli::TConsoleStatus status{out};
    avrsim::VirtualClock clock;
    std::unique_ptr<avrsim::SimTarget> sim;
    TAVRisp engine;
};

} // namespace clibench
