#include "FuseFields.h"

#include "AVRisp.h"

#include <QStringList>

namespace {

constexpr int TipLineWidth = 36;

QString Hex2(unsigned value) {
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

QString ByteName(int byte) {
    return QString::fromLatin1(FuseByteName(byte).data(),
                               static_cast<qsizetype>(FuseByteName(byte).size()));
}

std::array<uint8_t, 3> PartFuses(const TAVRisp& engine) {
    return {engine.AVRlfb(), engine.AVRhfb(), engine.AVRefb()};
}

} // namespace

std::optional<unsigned> FuseFieldValue(const QString& text) {
    if (text.isEmpty() || text.size() > 8) return std::nullopt;
    unsigned value = 0;
    for (QChar c : text) {
        const int digit = c.isDigit() && c.unicode() < 0x80          ? c.unicode() - '0'
                          : c.unicode() >= 'A' && c.unicode() <= 'F' ? c.unicode() - 'A' + 10
                          : c.unicode() >= 'a' && c.unicode() <= 'f' ? c.unicode() - 'a' + 10
                                                                     : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

TFuseFieldValues ReadFuseFields(const std::array<QString, 3>& texts) {
    TFuseFieldValues values;
    for (int k = 0; k < 3 && values.Invalid.isNull(); ++k) {
        const std::optional<unsigned> value = FuseFieldValue(texts[k]);
        if (!value)
            values.Invalid = QStringLiteral("'%1' is not a valid integer value")
                                 .arg(QStringLiteral("$") + texts[k]);
        else
            values.Bytes[k] = static_cast<uint8_t>(*value);
    }
    return values;
}

QString FuseFieldTip(const TAVRisp& engine, int byte, const QString& text) {
    if (engine.FlashSize() == 0 || byte >= engine.AVRfuse()) return {};
    const QString name = ByteName(byte) + QStringLiteral(" fuse byte");
    const std::optional<unsigned> value = FuseFieldValue(text);
    if (!value || *value > 0xFF) return name + QStringLiteral(": not a hex byte");
    const TFuseLayout* layout = engine.FuseLayout();
    if (layout == nullptr)
        return name + QLatin1Char(' ') + Hex2(*value) +
               QStringLiteral("\nIts bits are not known to this tool.");
    // The named bits, a few to a line so that the tip stays narrow.
    QString bits;
    int line = 0;
    const QStringList fields =
        QString::fromStdString(DecodeFuseByte(layout->Bytes[byte], static_cast<uint8_t>(*value)))
            .split(QLatin1Char(' '));
    for (const QString& field : fields) {
        if (line > 0 && line + 1 + field.size() > TipLineWidth) {
            bits += QLatin1Char('\n');
            line = 0;
        } else if (line > 0) {
            bits += QLatin1Char(' ');
            ++line;
        }
        bits += field;
        line += static_cast<int>(field.size());
    }
    return name + QLatin1Char(' ') + Hex2(*value) + QStringLiteral(" (programmed = 0)\n") + bits;
}

QString FuseChangeList(const TAVRisp& engine, const std::array<uint8_t, 3>& values) {
    const std::array<uint8_t, 3> old = PartFuses(engine);
    const TFuseLayout* layout = engine.FuseLayout();
    QStringList lines;
    for (int k = 0; k < engine.AVRfuse() && k < 3; ++k) {
        if (layout == nullptr) {
            if (old[k] != values[k])
                lines << ByteName(k) + QStringLiteral(": ") + Hex2(old[k]) +
                             QStringLiteral(" -> ") + Hex2(values[k]);
            continue;
        }
        for (const std::string& change : ChangedFields(layout->Bytes[k], old[k], values[k]))
            lines << ByteName(k) + QStringLiteral(": ") + QString::fromStdString(change);
    }
    if (lines.isEmpty()) lines << QStringLiteral("No bit changes.");
    if (layout == nullptr) {
        lines << QStringLiteral("The bits of this part's fuses are not known to this tool: "
                                "nothing guards against locking it out.");
    } else {
        const auto count = static_cast<std::size_t>(layout->ByteCount);
        for (const TFuseWarning& w : FuseWriteWarnings(*layout, std::span(old).first(count),
                                                       std::span(values).first(count)))
            if (w.Risk == TFuseRisk::WillNotTake) lines << QString::fromStdString(w.Text);
    }
    return lines.join(QLatin1Char('\n'));
}

std::vector<TFuseWarning> FuseLockouts(const TAVRisp& engine,
                                       const std::array<uint8_t, 3>& values) {
    const TFuseLayout* layout = engine.FuseLayout();
    if (layout == nullptr) return {};
    const std::array<uint8_t, 3> old = PartFuses(engine);
    const auto count = static_cast<std::size_t>(layout->ByteCount);
    std::vector<TFuseWarning> lockouts;
    for (TFuseWarning& w :
         FuseWriteWarnings(*layout, std::span(old).first(count), std::span(values).first(count)))
        if (w.Risk == TFuseRisk::Lockout) lockouts.push_back(std::move(w));
    return lockouts;
}

bool ConfirmLockout(TDialogs& dialogs, QWidget* parent, const TFuseWarning& lockout) {
    TMsgOptions options;
    options.DefaultNo = true;
    options.Informative = QStringLiteral("Write it all the same?");
    QString text = QString::fromStdString(lockout.Text);
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return dialogs.MessageBoxWith(parent, text + QLatin1Char('.'), TMsgKind::mkWarning,
                                  TMsgButtons::mbYesNo, options) == TMsgAnswer::maYes;
}
