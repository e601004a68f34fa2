#pragma once
// The information window: the target pins used for programming, the wiring of
// the programming cable, and the choice of the cable. It is created hidden,
// shown modeless by the main window's "Information" button and only ever
// hidden again.

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TInfoForm(QWidget* parent = nullptr);

    // The lines of the window's text: the pin list of the parts, then the
    // wiring of `cable` (one of cable::Cables(); the parallel port's 26 lines
    // for "lpt" and "sim", and for a name that is none of them).
    static QStringList InfoLines(const QString& cable = QStringLiteral("lpt"));

    // Shows the window, or brings it to the front when it is already shown.
    void ShowInfo();

    // The cable the main window uses, its options and how it stands ("not
    // opened"); the selector goes back to it.
    void ShowCable(const QString& name, const QString& options, const QString& state);
    // Whether a cable may be put into use now: not while a command runs.
    void AllowCableChange(bool allowed);

    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QPushButton* CloseBtn = nullptr;
    QPlainTextEdit* InfoMemo = nullptr;
    // The cable selector beside the text.
    QLabel* CableLabel = nullptr;
    QComboBox* CableCombo = nullptr;
    QLabel* OptionsLabel = nullptr;
    QLineEdit* OptionsEdit = nullptr;
    QPushButton* UseCableBtn = nullptr;
    QLabel* CableNote = nullptr; // what the selected cable is
    QLabel* InUseLabel = nullptr;

signals:
    // "Use cable": the selected cable's name and the options typed for it.
    void CableChosen(const QString& name, const QString& options);

private slots:
    void CloseBtnClick();
    void CableSelected(int index);
    void UseCableBtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString FInUseName;
    QString FInUseOptions;
};
