#pragma once
// The engine's status line and progress bar, shown on the window's controls.

#include "AVRisp.h"

class QLabel;
class QProgressBar;

// Status text on a panel label; the colour arrives as $00BBGGRR.
class TStatusLineAdapter : public TStatusPanel {
public:
    explicit TStatusLineAdapter(QLabel* panel) : FPanel(panel) {}
    void SetText(const std::string& Text) override;
    void SetTextColor(uint32_t Color) override;

private:
    QLabel* FPanel;
};

// The cable in use, for the status line's tooltip: the link's description
// and its pace when it has one.
std::string CableInUseText(TAVRisp& engine);

// Says why the cable could not be opened (`why`: what failed and what to do)
// where the user will look: as the tooltip of the status line and as one
// line on standard error.
void ExplainCableFailure(QLabel* statusLine, const std::string& why);

// After an identification: the status line's tooltip names the signature of
// an Atmel part outside the catalogue, so that the user can tell which part
// it was, and the cable in use with the pace the identification found.
void ExplainIdentification(QLabel* statusLine, TAVRisp& engine, bool answered);

// Progress on a QProgressBar. The position is kept within the range as the
// engine expects (it reads back the clamped position); a range of 0 to 0 is shown
// as an empty bar instead of Qt's busy indicator.
class TProgressBarAdapter : public TProgressIndicator {
public:
    explicit TProgressBarAdapter(QProgressBar* bar);
    void SetMax(int32_t Max) override;
    int32_t Min() const override;
    int32_t Position() const override { return FPosition; }
    void SetPosition(int32_t Position) override;

private:
    void Show();

    QProgressBar* FBar;
    int32_t FMin = 0;
    int32_t FMax = 100;
    int32_t FPosition = 0;
};
