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

std::string CableInUseText(TAVRisp& engine) {
    const std::string description = engine.Link().Description();
    const std::string pace = engine.Link().PaceText();
    const bool told = pace.empty() || description.find(pace) != std::string::npos;
    return "Cable in use: " + description + (told ? "" : "; " + pace);
}

void ExplainCableFailure(QLabel* statusLine, const std::string& why) {
    statusLine->setToolTip(QString::fromStdString(why));
    std::fprintf(stderr, "quillon: %s\n", why.c_str());
}

void ExplainIdentification(QLabel* statusLine, TAVRisp& engine, bool answered) {
    const bool unknown = answered && engine.FlashSize() == 0;
    const std::string cable = CableInUseText(engine);
    statusLine->setToolTip(QString::fromStdString(
        unknown ? UnknownPartText(engine.AVRsignature()) + "\n" + cable : cable));
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
