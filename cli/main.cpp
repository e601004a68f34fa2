// quillon-isp: programs, reads and verifies a part from the command line,
// on the same engine, image files and port libraries as the window.
#include "CableChoice.h"
#include "ConsoleDisplay.h"
#include "IspCommand.h"
#include "QuillonVersion.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "quillon-isp " QUILLON_VERSION "\n";
        return cli::ExitOk;
    }
    std::string error;
    const auto command = cli::ParseCommandLine(args, error);
    if (!command) {
        std::cerr << "quillon-isp: " << error << '\n' << cli::UsageText();
        return cli::ExitUsage;
    }
    if (command->help) {
        std::cout << cli::UsageText();
        return cli::ExitOk;
    }
    // A value that is no byte ends the command before the cable is opened.
    if (!command->valueError.empty()) {
        std::cerr << "quillon-isp: " << command->valueError << '\n';
        return cli::ExitFailed;
    }

    // The catalogue and the cables are listed without touching the port.
    if (!cli::TouchesPart(command->verb)) {
        TAVRisp none;
        return cli::RunCommand(*command, none, std::cout, std::cerr);
    }

    cli::TConsoleProgress progress(std::cerr, isatty(STDERR_FILENO) != 0);
    cli::TConsoleStatus status(std::cout);
    status.SetProgress(&progress);
    TAVRisp engine;
    engine.SetStatus(&status);
    engine.SetProgress(&progress);
    cable::TCableChoice choice = cable::TCableChoice::FromEnvironment();
    if (!command->cable.empty()) choice.Text = command->cable;
    choice.Simulate = choice.Simulate || command->simulate;
    std::string why;
    if (!cable::OpenCable(engine, choice, why)) {
        std::cerr << "quillon-isp: " << why << '\n';
        return cli::ExitFailed;
    }
    return cli::RunCommand(*command, engine, std::cout, std::cerr);
}
