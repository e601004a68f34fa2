#pragma once
// Every modal question, message and file dialog of the windows goes through
// TDialogs, so that the program shows real Qt dialogs while tests script the
// answers and record what was asked.

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

enum class TMsgKind { mkInformation, mkError, mkConfirmation, mkWarning };
enum class TMsgButtons { mbOK, mbYesNo };
enum class TMsgAnswer { maOK, maYes, maNo, maCancel };

// What a file dialog is asked to offer. The filter uses the "name|pattern|name|pattern"
// form: entry 1 is the first pair.
struct TFileDialogSettings {
    bool Save = false;
    QString FileName;   // the name offered in the name box
    QString DefaultExt; // appended to a name typed without an extension
    QString Filter;
    int FilterIndex = 1;
    QString InitialDir;
    bool OverwritePrompt = false; // save: ask before replacing an existing file
    bool CreatePrompt = false;    // save: ask before creating a file that does not exist
};

// What a message shows beside its text.
struct TMsgOptions {
    QString Informative;    // a second text under the message, e.g. a list of changes
    bool DefaultNo = false; // Yes/No: No is the default button
};

// Splits "name|pattern|name|pattern" into Qt's "name (pattern)" entries.
QStringList FilterToQt(const QString& filter);

class TDialogs {
public:
    virtual ~TDialogs() = default;
    virtual TMsgAnswer MessageBox(QWidget* parent, const QString& text, TMsgKind kind,
                                  TMsgButtons buttons) = 0;
    // The same with an informative text or No as the default; a dialog
    // that shows neither gives the plain message.
    virtual TMsgAnswer MessageBoxWith(QWidget* parent, const QString& text, TMsgKind kind,
                                      TMsgButtons buttons, const TMsgOptions& options) {
        (void)options;
        return MessageBox(parent, text, kind, buttons);
    }
    // The chosen file's full path, or nothing when the user cancelled.
    virtual std::optional<QString> FileDialog(QWidget* parent,
                                              const TFileDialogSettings& settings) = 0;
};

// The program's dialogs: QMessageBox titled "Quillon" in the window's font with
// the icon of the kind, QFileDialog for files (its "Create the file?" prompt is
// such a message too).
class TQtDialogs : public TDialogs {
public:
    TMsgAnswer MessageBox(QWidget* parent, const QString& text, TMsgKind kind,
                          TMsgButtons buttons) override;
    TMsgAnswer MessageBoxWith(QWidget* parent, const QString& text, TMsgKind kind,
                              TMsgButtons buttons, const TMsgOptions& options) override;
    std::optional<QString> FileDialog(QWidget* parent,
                                      const TFileDialogSettings& settings) override;
};

// One of the window's file dialogs. It opens in the process's working folder, offers
// the name chosen in it last, and makes the folder of a chosen file the working
// folder, so that every file dialog opens where the user went last.
class TFileDlg {
public:
    explicit TFileDlg(TFileDialogSettings settings);
    bool Execute(TDialogs& dialogs, QWidget* parent);
    // Full path of the file chosen last.
    const QString& FileName() const { return FFileName; }
    const TFileDialogSettings& Settings() const { return FSettings; }

private:
    TFileDialogSettings FSettings;
    QString FFileName;
};
