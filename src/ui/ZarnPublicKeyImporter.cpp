// The key importer's program: the application, its title, the main window and the key generation
// window, and the message loop until the main window closes. Started with a key file, the main
// window imports it once it is shown.
#include "platform/Errors.h"
#include "ui/FormGenerateRSA.h"
#include "ui/FormPublicKeyImporter.h"
#include "ui/ZarnApplication.h"

#include <QTimer>

#include <iostream>

int main(int argc, char** argv) {
    // --help and --version need no window, and no display.
    if (const std::optional<std::string> information = zarn::ProgramInformation(argc, argv)) {
        std::cout << *information << std::flush;
        return std::cout ? 0 : 3;
    }
    zarn::TZarnApplication application(argc, argv);
    std::optional<std::string> file;
    try {
        file = zarn::FileArgument(QCoreApplication::arguments());
    } catch (const zarn::Exception& error) {
        std::cerr << "zarn-key-importer: " << error.Message() << "\n";
        return 2;
    }
    zarn::SetApplicationTitle(zarn::kApplicationTitle);
    // Lets the desktop match the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(ZARN_DESKTOP_ID);
    // The first window created is the main window: closing it ends the program.
    zarn::TForm1 Form1;
    // Hidden until the main window's Button3Click shows it; it lives as long as the main window.
    zarn::TForm2 Form2(&Form1);
    Form1.show();
    if (file)
        QTimer::singleShot(0, &Form1, [&] { zarn::CallHandler([&] { Form1.ImportFile(*file); }); });
    return application.exec();
}
