#include "AdvEdDD.h"

#include <QUrl>

namespace {
const QString kText8 = QStringLiteral("text/plain");
const QString kText16 = QStringLiteral("text/plain;charset=utf-16");
} // namespace

Qt::DropAction DropEffect(bool acceptable, Qt::KeyboardModifiers modifiers) {
    if (!acceptable) return Qt::IgnoreAction;
    return (modifiers & Qt::ControlModifier) ? Qt::CopyAction : Qt::MoveAction;
}

bool TEnumFormats::HasText() const {
    // Qt reports a list of links as text too; only real text counts here.
    return m_data != nullptr && (m_data->hasFormat(kText16) || m_data->hasFormat(kText8) ||
                                 m_data->hasFormat(QStringLiteral("text/plain;charset=utf-8")));
}

bool TEnumFormats::HasFiles() const {
    if (m_data == nullptr || !m_data->hasUrls()) return false;
    for (const QUrl& url : m_data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

QString TEnumFormats::Text() const {
    if (m_data == nullptr) return QString();
    if (m_data->hasFormat(kText16)) {
        const QByteArray bytes = m_data->data(kText16);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                  bytes.size() / 2);
    }
    return m_data->text();
}

QStringList TEnumFormats::Files() const {
    QStringList files;
    if (m_data == nullptr) return files;
    for (const QUrl& url : m_data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

Qt::DropAction TAEDropTarget::DragEnter(const QMimeData* data, Qt::KeyboardModifiers modifiers) {
    const TEnumFormats formats(data);
    m_acceptable = formats.HasText() || formats.HasFiles();
    return DropEffect(m_acceptable, modifiers);
}

Qt::DropAction TAEDropTarget::DragOver(const QPoint& pt, Qt::KeyboardModifiers modifiers) {
    const Qt::DropAction effect = DropEffect(m_acceptable, modifiers);
    bool allow = true;
    DragMoved(pt, allow);
    return allow ? effect : Qt::IgnoreAction;
}

Qt::DropAction TAEDropTarget::Drop(const QPoint& pt, const QMimeData* data,
                                   Qt::KeyboardModifiers modifiers) {
    const TEnumFormats formats(data);
    const bool acceptable = formats.HasText() || formats.HasFiles();
    if (!acceptable) return Qt::IgnoreAction;
    if (formats.HasText()) {
        if (data->hasHtml()) DropRichText(pt, data->html());
        DropText(pt, formats.Text());
    } else {
        DropFiles(pt, formats.Files());
    }
    return DropEffect(true, modifiers);
}

QStringList TSourceEnumFormatEtc::Formats() {
    return {kText8, kText16};
}

TSourceDataObject::TSourceDataObject(const QString& text) : m_text(text) {}

QVariant TSourceDataObject::retrieveData(const QString& mimeType, QMetaType) const {
    if (mimeType == kText8) return m_text.toUtf8();
    if (mimeType == kText16)
        return QByteArray(reinterpret_cast<const char*>(m_text.utf16()),
                          static_cast<int>(m_text.size() * 2));
    return QVariant();
}
