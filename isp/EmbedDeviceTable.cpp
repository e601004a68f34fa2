// Build step: checks the part catalogue text and writes it into a C++
// source for the engine. A faulty catalogue stops the build with the
// line and the row at fault.
//   embed-device-table <catalogue.txt> <output.cpp>
#include "AVRDeviceTable.h"

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: embed-device-table <catalogue.txt> <output.cpp>\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const std::string catalogue = text.str();

    std::vector<TAVRdesc> rows;
    std::string error;
    if (!ParseDeviceTable(catalogue, rows, error)) {
        std::cerr << argv[1] << ": " << error << "\n";
        return 1;
    }
    const std::string_view delimiter = ")catalogue\"";
    if (catalogue.find(delimiter) != std::string::npos) {
        std::cerr << argv[1] << ": holds " << delimiter << ", which ends the embedded text\n";
        return 1;
    }

    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << "// Generated from " << argv[1] << " by embed-device-table; do not edit.\n"
        << "#include <string_view>\n"
        << "extern const std::string_view CompiledDeviceTableText;\n"
        << "const std::string_view CompiledDeviceTableText = R\"catalogue(" << catalogue
        << ")catalogue\";\n";
    out.close();
    if (!out) {
        std::cerr << argv[2] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
