// The key importer's program: the application, its title, the main window and the key generation
// window, and the message loop until the main window closes.
#include "ui/FormGenerateRSA.h"
#include "ui/FormPublicKeyImporter.h"
#include "ui/ZarnApplication.h"

int main(int argc, char** argv) {
    zarn::TZarnApplication application(argc, argv);
    zarn::SetApplicationTitle(zarn::kApplicationTitle);
    // Lets the desktop match the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(ZARN_DESKTOP_ID);
    // The first window created is the main window: closing it ends the program.
    zarn::TForm1 Form1;
    // Hidden until the main window's Button3Click shows it; it lives as long as the main window.
    zarn::TForm2 Form2(&Form1);
    Form1.show();
    return application.exec();
}
