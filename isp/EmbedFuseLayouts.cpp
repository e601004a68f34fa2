// Build step: checks the fuse layouts text, and each layout's byte count
// against the catalogue row of the same signature, and writes the text into
// a C++ source for the engine. A fault stops the build with the line at
// fault.
//   embed-fuse-layouts <FuseLayouts.txt> <AVRDeviceTable.txt> <output.cpp>
#include "FuseLayout.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

bool ReadText(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr
            << "usage: embed-fuse-layouts <FuseLayouts.txt> <AVRDeviceTable.txt> <output.cpp>\n";
        return 2;
    }
    std::string layoutsText, catalogueText;
    for (const auto& [path, text] :
         {std::pair{argv[1], &layoutsText}, std::pair{argv[2], &catalogueText}})
        if (!ReadText(path, *text)) {
            std::cerr << path << ": cannot be read\n";
            return 1;
        }

    TFuseLayouts layouts;
    std::string error;
    if (!ParseFuseLayouts(layoutsText, layouts, error)) {
        std::cerr << argv[1] << ": " << error << "\n";
        return 1;
    }
    std::vector<TAVRdesc> rows;
    if (!ParseDeviceTable(catalogueText, rows, error)) {
        std::cerr << argv[2] << ": " << error << "\n";
        return 1;
    }
    if (!CheckLayoutsAgainstCatalogue(layouts, rows, error)) {
        std::cerr << argv[1] << ": " << error << "\n";
        return 1;
    }
    const std::string_view delimiter = ")layouts\"";
    if (layoutsText.find(delimiter) != std::string::npos) {
        std::cerr << argv[1] << ": holds " << delimiter << ", which ends the embedded text\n";
        return 1;
    }

    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out << "// Generated from " << argv[1] << " by embed-fuse-layouts; do not edit.\n"
        << "#include <string_view>\n"
        << "extern const std::string_view CompiledFuseLayoutsText;\n"
        << "const std::string_view CompiledFuseLayoutsText = R\"layouts(" << layoutsText
        << ")layouts\";\n";
    out.close();
    if (!out) {
        std::cerr << argv[3] << ": cannot be written\n";
        return 1;
    }
    return 0;
}
