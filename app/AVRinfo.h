#pragma once
// The information window: the target pins used for programming and the wiring of
// the programming cable. It is created hidden, shown modeless by the main window's
// "Information" button and only ever hidden again.

#include <QDialog>

class QFrame;
class QPlainTextEdit;
class QPushButton;

class TInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TInfoForm(QWidget* parent = nullptr);

    // The 26 lines of the window's text.
    static QStringList InfoLines();

    // Shows the window, or brings it to the front when it is already shown.
    void ShowInfo();

    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QPushButton* CloseBtn = nullptr;
    QPlainTextEdit* InfoMemo = nullptr;

private slots:
    void CloseBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
};
