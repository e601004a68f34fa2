// The engine's status line and progress bar on a terminal: every status text
// is printed as a line when it changes; the progress bar of a memory transfer
// is redrawn in place on a terminal (standard error), and not drawn at all
// elsewhere. The attempts of an identification draw no bar.
#pragma once

#include "AVRisp.h"

#include <iosfwd>
#include <string>

namespace cli {

class TConsoleProgress;

class TConsoleStatus : public TStatusPanel {
public:
    explicit TConsoleStatus(std::ostream& out) : Out_(out) {}
    // A bar drawn on the same terminal is ended before a status line is printed.
    void SetProgress(TConsoleProgress* Progress) { Progress_ = Progress; }
    void SetText(const std::string& Text) override;
    // A terminal line has no colour; failures are also said on standard error.
    void SetTextColor(uint32_t) override {}

private:
    std::ostream& Out_;
    TConsoleProgress* Progress_ = nullptr;
};

class TConsoleProgress : public TProgressIndicator {
public:
    // Draws on `out` only when `draw` is true (a terminal).
    TConsoleProgress(std::ostream& out, bool draw) : Out_(out), Draw_(draw) {}
    ~TConsoleProgress() override;
    void SetMax(int32_t Max) override;
    int32_t Min() const override { return 0; }
    int32_t Position() const override { return Position_; }
    void SetPosition(int32_t Position) override;
    // Ends the line of a bar that was drawn.
    void Finish();
    // Whether the operation now running moves a memory; only those draw.
    void SetTransfer(bool Transfer) { Transfer_ = Transfer; }

private:
    void Redraw();

    std::ostream& Out_;
    bool Draw_;
    bool Transfer_ = false;
    int32_t Max_ = 100;
    int32_t Position_ = 0;
    int Shown_ = -1; // the width of the bar last drawn, -1: none on the line
};

} // namespace cli
