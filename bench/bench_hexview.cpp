// Full repaint of the hex view at the program's size and at a large size,
// against a QPlainTextEdit of the same size showing the same rows as text.
// Both paint with the font the program gives its views. The hex view should
// repaint at least as fast as the text edit.
#include "WindowFonts.h"
#include "XHexEdit.h"

#include <QApplication>
#include <QImage>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <benchmark/benchmark.h>

namespace {

constexpr int kBytes = 64 * 1024;

QString RowsAsText(int bytes) {
    QString text;
    for (int o = 0; o < bytes; o += 16) {
        std::string row = HexViewOffsetLabel(o, bytes, omHex) + " ";
        std::string chars;
        for (int j = 0; j < 16; ++j) {
            const auto b = uint8_t((o + j) * 7);
            row += HexViewByteText(b, hmHex) + " ";
            chars += HexViewByteChar(b, false);
        }
        text += QString::fromLatin1((row + " " + chars + "\n").c_str());
    }
    return text;
}

// The hex view as the program sets it up; the text edit gets the same font
// and scroll bars, so that both paint the same frame around their rows.
struct FilledView {
    TXHexEdit view;
    explicit FilledView(QSize size);
};

FilledView::FilledView(QSize size) {
    view.SetBorder(true);
    view.SetBevelKind(bkFlat);
    view.resize(size);
    FitHexViewFont(view);
    view.show();
    view.SetLastOffset(kBytes - 1);
    for (int i = 0; i < kBytes; ++i)
        view.SetByte(i, uint8_t(i * 7));
    view.DrawRows();
    QApplication::processEvents();
}

void PaintHexView(benchmark::State& state) {
    const QSize size(int(state.range(0)), int(state.range(1)));
    FilledView filled(size);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        filled.view.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void PaintPlainText(benchmark::State& state) {
    const QSize size(int(state.range(0)), int(state.range(1)));
    QPlainTextEdit edit;
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    edit.resize(size);
    edit.setPlainText(RowsAsText(kBytes));
    {
        const FilledView filled(size);
        edit.setFont(filled.view.TextFont());
        auto policy = [](bool shown) {
            return shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
        };
        edit.setVerticalScrollBarPolicy(policy(filled.view.verticalScrollBar()->isVisible()));
        edit.setHorizontalScrollBarPolicy(policy(filled.view.horizontalScrollBar()->isVisible()));
    }
    edit.show();
    QApplication::processEvents();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        edit.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK(PaintHexView)->Args({521, 177})->Args({1600, 1000})->Unit(benchmark::kMicrosecond);
BENCHMARK(PaintPlainText)->Args({521, 177})->Args({1600, 1000})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
