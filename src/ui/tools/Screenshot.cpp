// Photographs the windows for the README.
// Usage: zarn_screenshot KEYFILE PNGFILE [KEYGEN_PNGFILE]
// It builds the real main window, answers the open dialog with KEYFILE, presses "Import...", records
// the message instead of showing it, and saves the window as it is drawn on the screen into PNGFILE.
// With KEYGEN_PNGFILE it then shows the real key generation window, generates a key pair of the
// default length (128 bytes) and saves that window as well.
#include "keyrecord/ZarnPublicKey.h"
#include "ui/FileDialogs.h"
#include "ui/FormGenerateRSA.h"
#include "ui/FormPublicKeyImporter.h"
#include "ui/MessageBoxes.h"
#include "ui/ZarnApplication.h"

#include <QFont>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {

bool Save(QWidget& window, const char* fileName) {
    if (window.grab().save(QString::fromLocal8Bit(fileName), "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", fileName);
    return false;
}

} // namespace

int main(int argc, char** argv) {
    zarn::TZarnApplication application(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s KEYFILE PNGFILE [KEYGEN_PNGFILE]\n", argv[0]);
        return 2;
    }
    zarn::SetApplicationTitle(zarn::kApplicationTitle);
    if (!zarn::LoadApplicationFonts())
        std::fprintf(stderr, "the windows use a stand-in for the bitmap face MS Sans Serif: %s\n",
                     QFontInfo(QFont("MS Sans Serif")).family().toLocal8Bit().constData());

    zarn::TRecordedMessageBoxes boxes;
    zarn::SetMessageBoxes(&boxes);
    zarn::TScriptedFileDialogs dialogs;
    dialogs.Choose(argv[1]);

    zarn::TForm1 Form1;
    zarn::TForm2 Form2(&Form1);
    Form1.ZarnPublicKey1()->SetFileDialogs(&dialogs);
    // The picture shows the window at its normal size.
    Form1.setWindowState(Qt::WindowNoState);
    Form1.show();

    int result = 1;
    const auto finish = [&] {
        Form1.ZarnPublicKey1()->SetFileDialogs(nullptr);
        QApplication::quit();
    };
    const auto photographKeyGeneration = [&] {
        Form2.show();
        QTimer::singleShot(300, [&] {
            // A generation whose 50 runs all miss the length is rare; the picture wants a key pair.
            for (int attempt = 0; attempt < 3; ++attempt) {
                Form2.Button2()->click();
                if (Form2.Label6()->text() == "128")
                    break;
            }
            if (Form2.Label6()->text() != "128" || !boxes.Shown.empty()) {
                std::fprintf(stderr, "the generation did not succeed: %s\n",
                             zarn::EditText(Form2.Edit8()).c_str());
                finish();
                return;
            }
            QTimer::singleShot(300, [&] {
                result = Save(Form2, argv[3]) ? 0 : 1;
                finish();
            });
        });
    };
    QTimer::singleShot(300, [&] { Form1.Button1()->click(); });
    QTimer::singleShot(1500, [&] {
        const bool imported =
            boxes.Shown.size() == 1 && boxes.Shown[0].Text == "Import successfully completed!";
        if (!imported) {
            std::fprintf(stderr, "the import did not succeed: %s\n",
                         boxes.Shown.empty() ? "no message" : boxes.Shown.back().Text.c_str());
            finish();
            return;
        }
        if (!Save(Form1, argv[2])) {
            finish();
            return;
        }
        boxes.Shown.clear();
        if (argc == 4) {
            photographKeyGeneration();
        } else {
            result = 0;
            finish();
        }
    });
    application.exec();
    zarn::SetMessageBoxes(nullptr);
    return result;
}
