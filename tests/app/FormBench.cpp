#include "FormBench.h"

#include <QFile>

std::vector<uint8_t> ViewBytes(const TXHexEdit& view) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < view.Size(); ++i)
        bytes.push_back(view.ByteAt(i));
    return bytes;
}

std::vector<uint8_t> FileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}
