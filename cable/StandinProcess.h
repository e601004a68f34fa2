// A stand-in program a link starts itself when it simulates a programmer
// that sits behind a device file (the simulated ArduinoISP behind a
// pseudo-terminal): started with the program's environment, it says where
// to find it on the first line of its standard output, and it is ended
// when the link lets it go.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace cable {

// The stand-in program `name` beside the running program (the build tree),
// else in the installed port library folder; empty when neither has it.
std::string FindStandinProgram(const std::string& name);

class TStandinProcess {
public:
    TStandinProcess() = default;
    ~TStandinProcess();
    TStandinProcess(const TStandinProcess&) = delete;
    TStandinProcess& operator=(const TStandinProcess&) = delete;

    // Starts `path` and reads the first line it prints (without its line
    // end) within `timeout`. Its standard error goes to `stderrFd` (-1: this
    // program's). False: `error` says why, and nothing keeps running.
    bool Start(const std::string& path, std::string& firstLine, std::string& error,
               std::chrono::milliseconds timeout = std::chrono::seconds(10), int stderrFd = -1);
    // Asks it to end (SIGTERM), waits for it, and kills it if it does not.
    void Stop();
    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

} // namespace cable
