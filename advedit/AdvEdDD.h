// Generic pieces of text drag and drop for the formatted edit control: the
// drop target with overridable hooks, the drag source's feedback, the dragged
// data and the inspection of dropped data.
#pragma once

#include <QMimeData>
#include <QPoint>
#include <QString>
#include <QStringList>

// Copy while a Ctrl key is held, move otherwise, nothing for data that is not
// acceptable.
Qt::DropAction DropEffect(bool acceptable, Qt::KeyboardModifiers modifiers);

// Looks into data being dropped: plain text, a list of files.
class TEnumFormats {
public:
    explicit TEnumFormats(const QMimeData* data) : m_data(data) {}
    bool HasText() const;
    bool HasFiles() const;
    QString Text() const;
    QStringList Files() const;

private:
    const QMimeData* m_data;
};

// A drop target: remembers on entry whether the data is acceptable and calls
// the hooks; all hooks do nothing by default.
class TAEDropTarget {
public:
    virtual ~TAEDropTarget() = default;
    Qt::DropAction DragEnter(const QMimeData* data, Qt::KeyboardModifiers modifiers);
    Qt::DropAction DragOver(const QPoint& pt, Qt::KeyboardModifiers modifiers);
    virtual void DragLeave() {}
    Qt::DropAction Drop(const QPoint& pt, const QMimeData* data, Qt::KeyboardModifiers modifiers);

protected:
    virtual void DropText(const QPoint&, const QString&) {}
    virtual void DropRichText(const QPoint&, const QString&) {}
    virtual void DropFiles(const QPoint&, const QStringList&) {}
    virtual void DragMoved(const QPoint&, bool& /*allow*/) {}

private:
    bool m_acceptable = false;
};

// Feedback of a running drag; a drag whose last feedback was "none" ends as
// cancelled, not as a drop.
class TAEDropSource {
public:
    void Feedback(Qt::DropAction action) { m_lastWasNone = action == Qt::IgnoreAction; }
    bool LastWasNone() const { return m_lastWasNone; }
    Qt::DropAction Finish(Qt::DropAction result) const {
        return m_lastWasNone ? Qt::IgnoreAction : result;
    }

private:
    bool m_lastWasNone = false;
};

// The formats the dragged data is served in, in this order: 8-bit text and
// UTF-16 text.
class TSourceEnumFormatEtc {
public:
    static QStringList Formats();
};

// The dragged text, served as 8-bit text and as UTF-16 (little endian). Any
// other format is not supported.
class TSourceDataObject : public QMimeData {
public:
    explicit TSourceDataObject(const QString& text);
    QStringList formats() const override { return TSourceEnumFormatEtc::Formats(); }
    bool hasFormat(const QString& mimeType) const override { return formats().contains(mimeType); }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QString m_text;
};
