// Photographs the main window with a key file imported, for the README.
// Usage: zarn_screenshot KEYFILE PNGFILE
// It builds the real window, answers the open dialog with KEYFILE, presses "Import...", records the
// message instead of showing it, and saves the window as it is drawn on the screen.
#include "keyrecord/ZarnPublicKey.h"
#include "ui/FileDialogs.h"
#include "ui/FormPublicKeyImporter.h"
#include "ui/MessageBoxes.h"
#include "ui/ZarnApplication.h"

#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    zarn::TZarnApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s KEYFILE PNGFILE\n", argv[0]);
        return 2;
    }
    zarn::SetApplicationTitle(zarn::kApplicationTitle);
    if (!zarn::LoadApplicationFonts())
        std::fprintf(stderr, "MS Sans Serif not found; a substitute font is used\n");

    zarn::TRecordedMessageBoxes boxes;
    zarn::SetMessageBoxes(&boxes);
    zarn::TScriptedFileDialogs dialogs;
    dialogs.Choose(argv[1]);

    zarn::TForm1 Form1;
    Form1.ZarnPublicKey1()->SetFileDialogs(&dialogs);
    // The picture shows the window at its normal size.
    Form1.setWindowState(Qt::WindowNoState);
    Form1.show();

    int result = 1;
    QTimer::singleShot(300, [&] { Form1.Button1()->click(); });
    QTimer::singleShot(1500, [&] {
        const bool imported =
            boxes.Shown.size() == 1 && boxes.Shown[0].Text == "Import successfully completed!";
        if (!imported)
            std::fprintf(stderr, "the import did not succeed: %s\n",
                         boxes.Shown.empty() ? "no message" : boxes.Shown.back().Text.c_str());
        else if (!Form1.grab().save(QString::fromLocal8Bit(argv[2]), "PNG"))
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
        else
            result = 0;
        Form1.ZarnPublicKey1()->SetFileDialogs(nullptr);
        QApplication::quit();
    });
    application.exec();
    zarn::SetMessageBoxes(nullptr);
    return result;
}
