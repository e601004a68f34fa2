#pragma once
// A group box drawn the classic way the window's layout assumes: the caption
// sits on the frame's top line, which passes through the caption's middle, so
// that controls placed 16 pixels down stand inside the frame. A caption too
// long for the frame is shortened in the middle, keeping a file's own name.

#include <QGroupBox>

class QFontMetrics;

class TClassicGroupBox : public QGroupBox {
public:
    explicit TClassicGroupBox(const QString& title, QWidget* parent = nullptr);

    // The caption as drawn: title() itself, or shortened to fit the frame.
    QString ShownCaption() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    int CaptionRoom() const;
};

// `caption` shortened to `width` pixels. A caption naming a file,
// "Flash Memory (/folder/.../name.hex)", loses the middle of its folders
// (replaced by "…") and keeps its head and the file's own name whole; any
// other caption loses its middle.
QString ElideCaption(const QString& caption, const QFontMetrics& metrics, int width);
