#include "EngineDisplays.h"

#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <cstdio>

void TStatusLineAdapter::SetText(const std::string& Text) {
    FPanel->setText(QString::fromStdString(Text));
}

void TStatusLineAdapter::SetTextColor(uint32_t Color) {
    QPalette palette = FPanel->palette();
    palette.setColor(QPalette::WindowText,
                     QColor(static_cast<int>(Color & 0xFF), static_cast<int>((Color >> 8) & 0xFF),
                            static_cast<int>((Color >> 16) & 0xFF)));
    FPanel->setPalette(palette);
}

void ExplainPortFailure(QLabel* statusLine, const TAVRisp& engine) {
    const std::string text = PortFailureText(engine.PortError());
    statusLine->setToolTip(QString::fromStdString(text));
    std::fprintf(stderr, "quillon: %s\n", text.c_str());
}

void ExplainIdentification(QLabel* statusLine, const TAVRisp& engine, bool answered) {
    const bool unknown = answered && engine.FlashSize() == 0;
    statusLine->setToolTip(unknown ? QString::fromStdString(UnknownPartText(engine.AVRsignature()))
                                   : QString());
}

TProgressBarAdapter::TProgressBarAdapter(QProgressBar* bar)
    : FBar(bar), FMin(bar->minimum()), FMax(bar->maximum()), FPosition(bar->value()) {}

void TProgressBarAdapter::SetMax(int32_t Max) {
    FMax = std::max(Max, FMin);
    FPosition = std::clamp(FPosition, FMin, FMax);
    Show();
}

int32_t TProgressBarAdapter::Min() const {
    return FMin;
}

void TProgressBarAdapter::SetPosition(int32_t Position) {
    FPosition = std::clamp(Position, FMin, FMax);
    Show();
}

void TProgressBarAdapter::Show() {
    FBar->setRange(FMin, std::max(FMax, FMin + 1));
    FBar->setValue(FPosition);
}
