#pragma once
// The main window: the device panel, the two memory groups with their hex views,
// "Write to AVR", the status area, and the commands that drive the programming
// engine, fill the views and load and save image files.

#include "Dialogs.h"
#include "WindowCable.h"

#include <QWidget>
#include <functional>
#include <memory>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class TAdvEdit;
class TAVRisp;
class TInfoForm;
class TXHexEdit;
class TStatusLineAdapter;
class TProgressBarAdapter;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Opens the engine's port when the window is created without a cable named
    // by QUILLON_CABLE or remembered from the Information window. Empty: the
    // port library named by QUILLON_PORTIO. Tests open an in-process simulated
    // part here and give the engine a sleep of their own.
    using TPortOpener = std::function<bool(TAVRisp&)>;

    explicit TForm1(TDialogs& dialogs, TPortOpener openPort = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The information window that "Information" shows; it lives beside this window.
    TInfoForm* InfoForm = nullptr;

    // Controls, named as in the layout table.
    QFrame* MainPanel = nullptr;
    QGroupBox* FlashBox = nullptr;
    TXHexEdit* FlashEdit = nullptr;
    QPushButton* FlReadBtn = nullptr;
    QPushButton* FlVerifyBtn = nullptr;
    QPushButton* FlLoadBtn = nullptr;
    QPushButton* FlSaveBtn = nullptr;
    QGroupBox* EEPromBox = nullptr;
    TXHexEdit* EEPromEdit = nullptr;
    QPushButton* EEReadBtn = nullptr;
    QPushButton* EEVerifyBtn = nullptr;
    QPushButton* EELoadBtn = nullptr;
    QPushButton* EESaveBtn = nullptr;
    QPushButton* MemWriteBtn = nullptr;
    QCheckBox* FlCheck = nullptr;
    QCheckBox* EECheck = nullptr;
    QCheckBox* VerifyCheck = nullptr;
    QCheckBox* FastCheck = nullptr;
    QFrame* StatPanel = nullptr;
    QProgressBar* AVRProgressBar = nullptr;
    QLabel* AVRStatPanel = nullptr;
    QPushButton* AbortBtn = nullptr;
    QFrame* CtrlPanel = nullptr;
    QLabel* AVRtypeLabel = nullptr;
    QLabel* FlSizeLabel = nullptr;
    QLabel* EESizeLabel = nullptr;
    QLabel* FuseLabel = nullptr;
    QPushButton* InitAVRBtn = nullptr;
    QPushButton* RelBtn = nullptr;
    TAdvEdit* LFBEdit = nullptr;
    TAdvEdit* HFBEdit = nullptr;
    TAdvEdit* EFBEdit = nullptr;
    QPushButton* WFuseBtn = nullptr;
    QPushButton* InfoBtn = nullptr;
    QPushButton* ExitBtn = nullptr;

    std::unique_ptr<TAVRisp> AVRisp;
    TFileDlg FlOpen;
    TFileDlg EEOpen;
    TFileDlg FlSave;
    TFileDlg EESave;

    void ShowDeviceInfo();
    void SetControlsEnabled(QWidget* control, bool enabled);

    // The control of the layout table named `name`.
    QWidget* Control(const char* name) const;

    // True once the user agreed to exit while a command was running: the command
    // starts nothing more and the window closes when it has unwound.
    bool Closing() const { return FCloseAgreed; }

public slots:
    void InitAVRBtnClick();
    void RelBtnClick();
    void AbortBtnClick();
    void InfoBtnClick();
    void ExitBtnClick();
    void FlReadBtnClick();
    void FlVerifyBtnClick();
    void EEReadBtnClick();
    void EEVerifyBtnClick();
    void MemWriteBtnClick();
    void WFuseBtnClick();
    void FlLoadBtnClick();
    void EELoadBtnClick();
    void FlSaveBtnClick();
    void EESaveBtnClick();
    // The Information window's "Use cable": the engine lets go of its link
    // and opens the cable named, with its options; the device is forgotten.
    // Not while a command runs.
    void UseCable(const QString& name, const QString& options);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class TCommand;
    friend class TCommand;

    void BuildControls();
    void SetupViews();
    void SetupFuseFields();
    void WireEngine();
    void FormCreate();
    void FastCheckToggled(bool checked);
    void ShowCableOutcome(bool opened, const std::string& why);
    void ShowFastMode();
    void ShowCableInInfo();
    bool FormCloseQuery();

    void AVRispStartEvent();
    void AVRispStopEvent();
    bool AVRispUpdateEvent();

    bool Confirm(const QString& text, const QString& informative = QString());
    void Inform(const QString& text);
    void ShowError(const QString& text);
    void ShowVerifyError(const QString& memoryError);
    void UpdateFuseTips();

    void ShowFlashBuffer();
    void ShowEEpromBuffer();
    void EraseEEpromImage();

    TDialogs& FDialogs;
    TPortOpener FOpenPort;
    std::unique_ptr<TStatusLineAdapter> FStatusLine;
    std::unique_ptr<TProgressBarAdapter> FProgressBar;
    TWindowCable FCable;      // the cable in use
    bool FFastChosen = false; // the user's "Fast programming", kept under a forced tick
    int FCommandDepth = 0;
    bool FCloseAgreed = false;
    bool FPlaced = false;
};
