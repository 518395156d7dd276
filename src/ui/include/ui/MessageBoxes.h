// The modal message boxes of the windows, behind an interface so that tests can record a message
// instead of showing it. Texts are the system's 8-bit texts; a box shows them as MessageToUtf8 does
// (valid UTF-8 as it is, anything else as Latin-1).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zarn {

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;

    // The simple message box: `text`, an OK button, the application title as caption. Returns when
    // the box has been closed.
    virtual void ShowMessage(const std::string& text) = 0;

    // The default error box: `text` as given, an error icon, the application title as caption.
    // Returns when the box has been closed.
    virtual void ShowErrorBox(const std::string& text) = 0;
};

// The boxes every window uses: the ones installed with SetMessageBoxes, else the Qt boxes.
IMessageBoxes& MessageBoxes();

// Installs `boxes` for every window (not owned); nullptr restores the Qt boxes.
void SetMessageBoxes(IMessageBoxes* boxes);

// MessageBoxes().ShowMessage(text).
void ShowMessage(const std::string& text);

// The program's boxes: QMessageBox, modal, over the active window.
class TQtMessageBoxes : public IMessageBoxes {
public:
    void ShowMessage(const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;
};

// Boxes that record what they would show and return at once.
class TRecordedMessageBoxes : public IMessageBoxes {
public:
    enum TKind { mbMessage, mbError };
    struct TShown {
        TKind Kind;
        std::string Text;
        bool operator==(const TShown&) const = default;
    };

    void ShowMessage(const std::string& text) override;
    void ShowErrorBox(const std::string& text) override;

    // Every box in the order shown.
    std::vector<TShown> Shown;
    // Called as each box is recorded, while the caller still waits for it to close: a test can look
    // at the windows as they stand at that moment.
    std::function<void(const TShown&)> OnShow;
};

} // namespace zarn
