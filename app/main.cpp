// quillon: programs AVR microcontrollers in circuit. It reads no command line;
// the port library is chosen by QUILLON_PORTIO.

#include "AVRinfo.h"
#include "MainForm.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Lets the desktop match the window with the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillon"));
    TQtDialogs dialogs;
    // The main window first (its creation opens the port), then the hidden
    // information window.
    TForm1 Form1(dialogs);
    TInfoForm InfoForm;
    Form1.InfoForm = &InfoForm;
    Form1.show();
    return app.exec();
}
