#pragma once
// Dialogs for window tests: every message and file dialog is recorded, and the
// answers come from a script instead of a person.

#include "Dialogs.h"

#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <vector>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

struct TShownMessage {
    QString Text;
    TMsgKind Kind;
    TMsgButtons Buttons;
    TMsgOptions Options;
};

class TScriptedDialogs : public TDialogs {
public:
    // Answers by text, then by kind; a question not listed is answered Yes,
    // a message OK.
    std::map<QString, TMsgAnswer> Answers;
    std::map<TMsgKind, TMsgAnswer> AnswersByKind;
    // Called while the message is open (the command waits meanwhile).
    std::function<void(const QString&)> WhileOpen;
    // Files the next file dialogs return, in order; nothing: the user cancels.
    std::deque<std::optional<QString>> Files;

    std::vector<TShownMessage> Messages;
    std::vector<TFileDialogSettings> FileDialogs;

    TMsgAnswer MessageBox(QWidget* parent, const QString& text, TMsgKind kind,
                          TMsgButtons buttons) override {
        return MessageBoxWith(parent, text, kind, buttons, TMsgOptions{});
    }
    TMsgAnswer MessageBoxWith(QWidget*, const QString& text, TMsgKind kind, TMsgButtons buttons,
                              const TMsgOptions& options) override {
        Messages.push_back({text, kind, buttons, options});
        if (WhileOpen) WhileOpen(text);
        const auto it = Answers.find(text);
        if (it != Answers.end()) return it->second;
        const auto byKind = AnswersByKind.find(kind);
        if (byKind != AnswersByKind.end()) return byKind->second;
        return buttons == TMsgButtons::mbYesNo ? TMsgAnswer::maYes : TMsgAnswer::maOK;
    }

    std::optional<QString> FileDialog(QWidget*, const TFileDialogSettings& settings) override {
        FileDialogs.push_back(settings);
        if (Files.empty()) return std::nullopt;
        std::optional<QString> next = Files.front();
        Files.pop_front();
        return next;
    }

    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const TShownMessage& m : Messages)
            texts.push_back(m.Text);
        return texts;
    }
    void Clear() {
        Messages.clear();
        FileDialogs.clear();
    }
};
