#include "ui/ZarnApplication.h"

#include "images/ZarnIcon.xpm"
#include "platform/Errors.h"
#include "ui/MessageBoxes.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>

namespace zarn {

namespace {

constexpr const char* kWindowFontFamily = "MS Sans Serif";
constexpr const char* kWineFontFile = "/usr/share/wine/fonts/ms_sans_serif.ttf";
constexpr const char* kScalableFontFamily = "Tahoma";
constexpr const char* kWineScalableFontFiles[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                                  "/usr/share/wine/fonts/tahomabd.ttf"};

// Tahoma's widths at 95 % are at most the bitmap face's, for every text of the windows.
constexpr int kScalableFontStretch = 95;
bool g_scalableStandIn = false;

bool AddFontFile(const char* fileName, const char* family) {
    if (!QFile::exists(fileName))
        return false;
    const int id = QFontDatabase::addApplicationFont(fileName);
    return id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(family);
}

// Return and Enter on a focused push button press it. A held key presses once.
class TReturnPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = key->modifiers() == Qt::NoModifier ||
                           (key->modifiers() == Qt::KeypadModifier && key->key() == Qt::Key_Enter);
        if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter))
            return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button == nullptr)
            return false;
        if (!key->isAutoRepeat() && button->isEnabled())
            button->click();
        return true;
    }
};

} // namespace

void MakeButtonsPressOnlyWhenFocused(QWidget* window) {
    auto* filter = new TReturnPressesButton(window);
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(filter);
    }
}

namespace {

int& KeepNoSettings(int& argc) {
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, "/dev/null");
    return argc;
}

} // namespace

std::optional<std::string> ProgramInformation(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--version")
            return std::string("zarn-key-importer ") + ZARN_VERSION + "\n";
        if (argument == "-h" || argument == "--help")
            return "Usage: zarn-key-importer [FILE]\n"
                   "The Zarn public key importer's window. With FILE it imports that key file at once,\n"
                   "as its Import... button does with a file chosen in the dialog.\n"
                   "\n"
                   "  -h, --help   print this help and exit\n"
                   "  --version    print the version and exit\n"
                   "\n"
                   "Qt's own options, such as -platform, are taken as well. The program keeps no\n"
                   "settings. zarnkey(1) is the command line over the same code.\n";
    }
    return std::nullopt;
}

std::optional<std::string> FileArgument(const QStringList& arguments) {
    std::optional<std::string> file;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const std::string argument = QFile::encodeName(arguments[i]).toStdString();
        if (argument.size() > 1 && argument[0] == '-')
            throw Exception("unknown option \"" + argument + "\"; see --help");
        if (file)
            throw Exception("one key file at a time: \"" + *file + "\" and \"" + argument + "\" were given");
        file = argument;
    }
    return file;
}

TZarnApplication::TZarnApplication(int& argc, char** argv) : QApplication(KeepNoSettings(argc), argv) {
    LoadApplicationFonts();
    // The application's icon, one 32 x 32 image of 16 colours, for every window and message box.
    setWindowIcon(QIcon(QPixmap(ZarnIcon)));
}

bool TZarnApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
        return false;
    }
}

std::string ApplicationTitle() {
    return QCoreApplication::applicationName().toStdString();
}

// The title goes into the application name only: a display name would be appended to every window
// caption by some window systems.
void SetApplicationTitle(const std::string& title) {
    QCoreApplication::setApplicationName(QString::fromStdString(title));
}

bool LoadApplicationFonts() {
    static const bool loaded = [] {
        // The bitmap face has strikes for a device pixel ratio of 1 only: on a denser screen its
        // letters stay small while their advances grow. There Wine's Tahoma, the scalable face drawn
        // to the bitmap face's proportions, stands in for it.
        if (qApp->devicePixelRatio() != 1.0) {
            bool scalable = true;
            for (const char* fileName : kWineScalableFontFiles)
                scalable = AddFontFile(fileName, kScalableFontFamily) && scalable;
            if (scalable) {
                QFont::insertSubstitution(kWindowFontFamily, kScalableFontFamily);
                g_scalableStandIn = true;
                return false;
            }
        } else if (AddFontFile(kWineFontFile, kWindowFontFamily)) {
            return true;
        }
        QFont::insertSubstitutions(kWindowFontFamily,
                                   {"Liberation Sans Narrow", "Nimbus Sans Narrow", "Arial Narrow",
                                    "DejaVu Sans Condensed", "Liberation Sans", "DejaVu Sans"});
        return false;
    }();
    return loaded;
}

int WindowFontStretch() {
    return g_scalableStandIn ? kScalableFontStretch : QFont::AnyStretch;
}

std::string DefaultErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

void ShowException(std::exception_ptr error) {
    std::string message;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        message = e.Message();
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown error";
    }
    MessageBoxes().ShowErrorBox(DefaultErrorBoxText(message));
}

void CallHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ShowException(std::current_exception());
    }
}

} // namespace zarn
