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

// Says why the port could not be opened where the user will look: as the
// tooltip of the status line and as one line on standard error.
void ExplainPortFailure(QLabel* statusLine, const TAVRisp& engine);

// After an identification: the status line's tooltip names the signature of
// an Atmel part outside the catalogue, so that the user can tell which part
// it was; any other outcome clears it.
void ExplainIdentification(QLabel* statusLine, const TAVRisp& engine, bool answered);

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
