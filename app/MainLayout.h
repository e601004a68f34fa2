#pragma once
// The layout of the main window as data: every control with its parent, place,
// size, caption, tab order, initial state and picture. The window is built from
// this table, and tests check the built window against it.

#include "QuillonVersion.h"

#include <span>

enum class TControlKind {
    ckPanel, // lowered bevel, no caption
    ckGroupBox,
    ckHexView,
    ckButton,
    ckCheckBox,
    ckProgressBar,
    ckStatusPanel, // raised bevel, centred bold navy text
    ckLabel,       // fixed-pitch device label
    ckFuseField,
};

struct TControlLayout {
    const char* Name;
    TControlKind Kind;
    const char* Parent; // "Form1" for the window itself
    int Left, Top, Width, Height;
    const char* Caption;
    int TabOrder; // within the parent; -1 for controls that take no focus
    bool Enabled;
    bool Checked;
    const char* Icon; // button picture, nullptr for other kinds
};

inline constexpr int MainClientWidth = 801;
inline constexpr int MainClientHeight = 542;
inline constexpr const char* MainCaption = "Quillon ver. " QUILLON_VERSION;

// Rows in creation order: every parent comes before its children.
std::span<const TControlLayout> MainWindowLayout();
const TControlLayout* FindControlLayout(const char* name);
