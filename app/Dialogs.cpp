#include "Dialogs.h"

#include "WindowFonts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

QStringList FilterToQt(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        entries << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return entries;
}

namespace {

// Every message of the program: titled "Quillon", in the window's font.
TMsgAnswer ShowMessage(QWidget* parent, const QString& text, TMsgKind kind, TMsgButtons buttons,
                       const TMsgOptions& options = {}) {
    QMessageBox::Icon icon = QMessageBox::Information;
    if (kind == TMsgKind::mkError)
        icon = QMessageBox::Critical;
    else if (kind == TMsgKind::mkConfirmation)
        icon = QMessageBox::Question;
    else if (kind == TMsgKind::mkWarning)
        icon = QMessageBox::Warning;
    const QMessageBox::StandardButtons set = buttons == TMsgButtons::mbYesNo
                                                 ? QMessageBox::Yes | QMessageBox::No
                                                 : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(icon, QStringLiteral("Quillon"), text, set, parent);
    box.setFont(WindowFont());
    if (!options.Informative.isEmpty()) box.setInformativeText(options.Informative);
    if (buttons == TMsgButtons::mbYesNo)
        box.setDefaultButton(options.DefaultNo ? QMessageBox::No : QMessageBox::Yes);
    else
        box.setDefaultButton(QMessageBox::Ok);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return TMsgAnswer::maOK;
    case QMessageBox::Yes:
        return TMsgAnswer::maYes;
    case QMessageBox::No:
        return TMsgAnswer::maNo;
    default:
        return TMsgAnswer::maCancel;
    }
}

} // namespace

TMsgAnswer TQtDialogs::MessageBox(QWidget* parent, const QString& text, TMsgKind kind,
                                  TMsgButtons buttons) {
    return ShowMessage(parent, text, kind, buttons);
}

TMsgAnswer TQtDialogs::MessageBoxWith(QWidget* parent, const QString& text, TMsgKind kind,
                                      TMsgButtons buttons, const TMsgOptions& options) {
    return ShowMessage(parent, text, kind, buttons, options);
}

std::optional<QString> TQtDialogs::FileDialog(QWidget* parent,
                                              const TFileDialogSettings& settings) {
    QFileDialog dialog(parent, settings.Save ? QStringLiteral("Save As") : QStringLiteral("Open"),
                       settings.InitialDir);
    dialog.setAcceptMode(settings.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog takes names of files that do not exist yet; the command reports
    // the failure to open them.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !settings.OverwritePrompt);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    const QStringList filters = FilterToQt(settings.Filter);
    dialog.setNameFilters(filters);
    if (settings.FilterIndex >= 1 && settings.FilterIndex <= filters.size())
        dialog.selectNameFilter(filters[settings.FilterIndex - 1]);
    dialog.setDefaultSuffix(settings.DefaultExt);
    // A name typed without an extension takes the one of the chosen filter entry.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, &settings, filters](const QString& chosen) {
                         const qsizetype at = filters.indexOf(chosen);
                         const QStringList parts = settings.Filter.split(QLatin1Char('|'));
                         QString ext = settings.DefaultExt;
                         if (at >= 0 && 2 * at + 1 < parts.size()) {
                             const QString pattern = parts[2 * at + 1];
                             if (pattern.startsWith(QStringLiteral("*.")) &&
                                 pattern.indexOf(QLatin1Char('*'), 1) < 0)
                                 ext = pattern.mid(2);
                         }
                         dialog.setDefaultSuffix(ext);
                     });
    dialog.selectFile(settings.FileName);
    while (dialog.exec() == QDialog::Accepted) {
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) return std::nullopt;
        const QString path = chosen.first();
        if (settings.Save && settings.CreatePrompt && !QFileInfo::exists(path)) {
            const TMsgAnswer answer = ShowMessage(
                &dialog,
                QStringLiteral("%1\nThis file does not exist.\nCreate the file?")
                    .arg(QFileInfo(path).fileName()),
                TMsgKind::mkConfirmation, TMsgButtons::mbYesNo);
            if (answer != TMsgAnswer::maYes) continue;
        }
        return path;
    }
    return std::nullopt;
}

TFileDlg::TFileDlg(TFileDialogSettings settings) : FSettings(std::move(settings)) {}

bool TFileDlg::Execute(TDialogs& dialogs, QWidget* parent) {
    FSettings.InitialDir = QDir::currentPath();
    const std::optional<QString> chosen = dialogs.FileDialog(parent, FSettings);
    if (!chosen) return false;
    FFileName = *chosen;
    const QFileInfo info(FFileName);
    FSettings.FileName = info.fileName();
    QDir::setCurrent(info.absolutePath());
    return true;
}
