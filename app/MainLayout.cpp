#include "MainLayout.h"

#include <cstring>

namespace {

using K = TControlKind;

constexpr TControlLayout Layout[] = {
    {"CtrlPanel", K::ckPanel, "Form1", 320, 440, 353, 97, "", 0, true, false, nullptr},
    {"InfoBtn", K::ckButton, "Form1", 680, 448, 113, 25, "Information", 1, true, false, "info"},
    {"ExitBtn", K::ckButton, "Form1", 680, 504, 113, 25, "Exit", 2, true, false, "exit"},
    {"MainPanel", K::ckPanel, "Form1", 8, 8, 785, 425, "", 3, true, false, nullptr},
    {"StatPanel", K::ckPanel, "Form1", 8, 440, 305, 97, "", 4, true, false, nullptr},

    {"MemWriteBtn", K::ckButton, "MainPanel", 672, 24, 105, 25, "Write to AVR", 0, true, false,
     "write"},
    {"FlCheck", K::ckCheckBox, "MainPanel", 672, 64, 105, 17, "Flash data", 1, true, true, nullptr},
    {"EECheck", K::ckCheckBox, "MainPanel", 672, 80, 97, 17, "EEPROM data", 2, true, true, nullptr},
    {"VerifyCheck", K::ckCheckBox, "MainPanel", 672, 104, 97, 17, "Verify after write", 3, true,
     true, nullptr},
    {"FastCheck", K::ckCheckBox, "MainPanel", 672, 120, 105, 17, "Fast programming", 4, true, false,
     nullptr},
    {"FlashBox", K::ckGroupBox, "MainPanel", 8, 8, 657, 201, "Flash Memory", 5, true, false,
     nullptr},
    {"EEPromBox", K::ckGroupBox, "MainPanel", 8, 216, 657, 201, "EEPROM Memory", 6, true, false,
     nullptr},

    {"FlashEdit", K::ckHexView, "FlashBox", 8, 16, 521, 177, "", 0, true, false, nullptr},
    {"FlReadBtn", K::ckButton, "FlashBox", 544, 16, 105, 25, "Read Flash", 1, true, false, "read"},
    {"FlVerifyBtn", K::ckButton, "FlashBox", 544, 48, 105, 25, "Verify Flash", 2, true, false,
     "verify"},
    {"FlLoadBtn", K::ckButton, "FlashBox", 544, 136, 105, 25, "Load from File", 3, true, false,
     "load"},
    {"FlSaveBtn", K::ckButton, "FlashBox", 544, 168, 105, 25, "Save to File", 4, true, false,
     "save"},

    {"EEPromEdit", K::ckHexView, "EEPromBox", 8, 16, 521, 177, "", 0, true, false, nullptr},
    {"EEReadBtn", K::ckButton, "EEPromBox", 544, 16, 105, 25, "Read EEPROM", 1, true, false,
     "read"},
    {"EEVerifyBtn", K::ckButton, "EEPromBox", 544, 48, 105, 25, "Verify EEPROM", 2, true, false,
     "verify"},
    {"EELoadBtn", K::ckButton, "EEPromBox", 544, 136, 105, 25, "Load from File", 3, true, false,
     "load"},
    {"EESaveBtn", K::ckButton, "EEPromBox", 544, 168, 105, 25, "Save to File", 4, true, false,
     "save"},

    {"AVRProgressBar", K::ckProgressBar, "StatPanel", 8, 40, 289, 17, "", 0, true, false, nullptr},
    {"AVRStatPanel", K::ckStatusPanel, "StatPanel", 8, 8, 289, 25, "", 1, true, false, nullptr},
    {"AbortBtn", K::ckButton, "StatPanel", 192, 64, 105, 25, "Abort", 2, false, false, "abort"},

    {"AVRtypeLabel", K::ckLabel, "CtrlPanel", 16, 8, 175, 15, "AVR device type : NON AVR", -1, true,
     false, nullptr},
    {"FlSizeLabel", K::ckLabel, "CtrlPanel", 16, 24, 119, 15, "Flash size      :", -1, true, false,
     nullptr},
    {"EESizeLabel", K::ckLabel, "CtrlPanel", 16, 40, 119, 15, "EEPROM size     :", -1, true, false,
     nullptr},
    {"FuseLabel", K::ckLabel, "CtrlPanel", 16, 64, 91, 15, "Fuse L/H/E  :", -1, true, false,
     nullptr},
    {"InitAVRBtn", K::ckButton, "CtrlPanel", 240, 8, 105, 25, "Init Device", 0, true, false,
     "init"},
    {"RelBtn", K::ckButton, "CtrlPanel", 240, 32, 105, 25, "Release", 1, false, false, "release"},
    {"LFBEdit", K::ckFuseField, "CtrlPanel", 120, 64, 33, 21, "0", 2, true, false, nullptr},
    {"HFBEdit", K::ckFuseField, "CtrlPanel", 160, 64, 33, 21, "0", 3, true, false, nullptr},
    {"EFBEdit", K::ckFuseField, "CtrlPanel", 200, 64, 33, 21, "0", 4, true, false, nullptr},
    {"WFuseBtn", K::ckButton, "CtrlPanel", 240, 64, 105, 25, "Set Fuse", 5, true, false, "fuse"},
};

} // namespace

std::span<const TControlLayout> MainWindowLayout() {
    return Layout;
}

const TControlLayout* FindControlLayout(const char* name) {
    for (const TControlLayout& row : Layout)
        if (std::strcmp(row.Name, name) == 0) return &row;
    return nullptr;
}
