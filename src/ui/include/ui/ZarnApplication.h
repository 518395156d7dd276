// The application object and the default error box.
//
// Every error that escapes a window's handler ends that handler and is shown in the default error
// box: the error's text with an error icon, the application title as caption, and a full stop
// added when the text's last character sorts after "."; then the program goes on. Two places
// deliver errors to that box, and both call ShowException:
//
// - the handlers that a window connects with ConnectHandler are called inside a guard, because a
//   handler's caller is a signal of a Qt widget, and Qt's Gui and Widgets libraries are built
//   without exception support: an error passing through their frames would skip their destructors
//   (leaking the events and guards they hold) and leave them half done;
// - TZarnApplication::notify catches whatever escapes any other event handler.
#pragma once

#include <QApplication>
#include <QStringList>

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace zarn {

// The application's title: it captions the message boxes and names the program to the desktop.
inline constexpr const char* kApplicationTitle = "Morvel Zarn Public Key Importer";

class TZarnApplication : public QApplication {
    Q_OBJECT

public:
    // Initialises the application, loads the windows' fonts (LoadApplicationFonts) and sets the
    // application's icon. The program keeps no settings: Qt's file dialog would record the folders
    // visited (and read them back) in the user's QtProject.conf, so every settings file of Qt's
    // native and INI formats, the user's and the system's, is placed under /dev/null, where nothing
    // can be created or read.
    TZarnApplication(int& argc, char** argv);

    // Delivers the event; an error that escapes the receiver's handling is shown in the default error
    // box, and the event counts as not handled.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The text to print when the window program's arguments ask for it before any window: its usage for
// -h or --help, "zarn-key-importer VERSION" for --version; nothing otherwise. Read from argv as
// given, before Qt takes its own options.
std::optional<std::string> ProgramInformation(int argc, const char* const* argv);

// The file the window program is to open: the one argument left once Qt has taken its own options
// (`arguments` as QCoreApplication::arguments() gives them, the program's name first), or nothing.
// An option it does not know or a second file raises Exception with the reason.
std::optional<std::string> FileArgument(const QStringList& arguments);

// The application title; SetApplicationTitle sets it (the application object must exist).
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

// Makes the windows' font "MS Sans Serif" available: loads the bitmap face from the Wine font
// folder when it is there and the screens' device pixel ratio is 1. Where the ratio is not 1 the
// scalable Tahoma from the same folder stands in for it, and without those files Qt substitutes a
// close sans font (a narrow one first, since the layout is measured for that font's widths).
// Returns true when the bitmap face itself was loaded.
bool LoadApplicationFonts();

// The horizontal stretch in per cent for the main window's fonts: Tahoma runs about 4 % wider than
// the bitmap face at the window's 11 pixels, so where it stands in it is drawn narrower, to the
// bitmap face's widths. QFont::AnyStretch (no change) otherwise. Call after LoadApplicationFonts.
int WindowFontStretch();

// The text of the default error box for an error whose text is `message`: a full stop is added when
// the last character (as an unsigned 8-bit code) sorts after ".".
std::string DefaultErrorBoxText(const std::string& message);

// Shows `error` in the default error box (MessageBoxes().ShowErrorBox). The text is the message of
// a zarn::Exception or the what() of a std::exception.
void ShowException(std::exception_ptr error);

// Runs `handler`; an error it raises is shown with ShowException and goes no further.
void CallHandler(const std::function<void()>& handler);

// Makes `window`'s push buttons keyboard buttons as on the desktop the layouts come from: none is a
// default or auto-default button, so Enter in an edit box presses nothing, and Return or Enter on a
// focused button presses it, as Space does.
void MakeButtonsPressOnlyWhenFocused(QWidget* window);

// Connects `signal` of `sender` to `handler` of `form`, called through CallHandler with the sender.
template <typename TSender, typename TSignal, typename TForm>
void ConnectHandler(TSender* sender, TSignal signal, TForm* form, void (TForm::*handler)(QObject*)) {
    QObject::connect(sender, signal, form,
                     [sender, form, handler] { CallHandler([&] { (form->*handler)(sender); }); });
}

} // namespace zarn
