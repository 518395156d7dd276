// TForm2, the key generation window: the user types a key length in bytes and presses Generate; the
// window runs GenerateRsaKeyPair as its host and shows the public and private modulus and exponent as
// hexadecimal texts, the start and end time, the runs and the resulting modulus length. Stop asks the
// generation to end after its current run, Transfer to Export copies the public key into the main
// window's export boxes, and Close hides the window, whose boxes keep their texts for the next time.
//
// While a generation runs, its host calls let pending events run, so the window repaints and Stop is
// served. Generate, Transfer to Export and Close are disabled for that time, and closing the window by
// its title bar or the Esc key is refused until the generation has ended; a generation never starts
// inside another.
//
// The handlers are connected in the constructor and run through CallHandler, so an error raised in
// one (also inside the generation) ends it and reaches the default error box; the buttons are enabled
// again on the way out.
#pragma once

#include "crypto/RsaKeyGeneration.h"

#include <QDialog>

#include <cstdint>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace Ui {
class TForm2;
}

namespace zarn {

class TForm1;

class TForm2 : public QDialog, public TKeyGenHost {
    Q_OBJECT

public:
    // Builds the window from its stored layout (object name "Form2"), hidden, as a dialog of
    // `Form1`, the main window that Transfer to Export writes into; runs FormCreate. `Form1` must
    // outlive this window.
    explicit TForm2(TForm1* Form1);
    ~TForm2() override;

    // Generate: empties the result boxes, shows the start time, converts Edit4 into KeyLength (with
    // a message box for a rejected text and one for a length below 1) and runs the generation,
    // then shows the end time, the runs and, for a stopped or failed generation, its outcome in
    // Edit8. Does nothing while a generation runs.
    void Button2Click(QObject* Sender);
    // Sets KeyLength to 0 and sizes the window to 50 pixels beyond Edit8's right edge and Button3's
    // bottom edge.
    void FormCreate(QObject* Sender);
    // Close: closes the window, which ends its modal display.
    void Button3Click(QObject* Sender);
    // Transfer to Export: the public modulus and exponent, their lengths in bytes (text length div 2)
    // and "1" for both indicators into the main window's Edit8, Edit9, Edit6, Edit7, Edit4, Edit5, in
    // that order. The texts are copied as they stand.
    void Button1Click(QObject* Sender);
    // Stop: sets the stop flag and says so in Edit8, whether or not a generation runs.
    void Button4Click(QObject* Sender);

    // The generation's host: Edit8 is the status line and Label12 the runs line.
    void SetStatusText(const std::string& Text) override;
    void SetRunsText(const std::string& Text) override;
    void RepaintNow() override;
    // Edit9 := e, Edit8 := n, Edit3 := d, Edit2 := n, then Label6 := (length of Edit8) div 2.
    void ShowRunResult(const std::string& ExponentHex, const std::string& ModulusHex,
                       const std::string& PrivateExponentHex) override;
    void ProcessPendingEvents() override;
    bool IsStopRequested() override;

    // True from the start of a generation until it has returned.
    bool IsGenerating() const { return m_generating; }
    std::int32_t GetKeyLength() const { return KeyLength; }

    // Takes the prime candidates' digits and bytes from `Candidates` (not owned) instead of the
    // operating system's random source; nullptr restores that source. For tests.
    void SetCandidateSource(TCandidateSource* Candidates) { m_candidates = Candidates; }

    // The controls, for tests and tools.
    QPlainTextEdit* Memo1() const;
    QLineEdit* Edit2() const;
    QLineEdit* Edit3() const;
    QLineEdit* Edit4() const;
    QLineEdit* Edit8() const;
    QLineEdit* Edit9() const;
    QLabel* Label6() const;
    QLabel* Label10() const;
    QLabel* Label11() const;
    QLabel* Label12() const;
    QPushButton* Button1() const;
    QPushButton* Button2() const;
    QPushButton* Button3() const;
    QPushButton* Button4() const;

    // Showing the window centres it on the desktop.
    void setVisible(bool visible) override;

public slots:
    // The title bar's close and the Esc key end here: refused while a generation runs.
    void reject() override;

private:
    // Runs the generation with Generate, Transfer and Close disabled.
    TKeyGenResult Generate();
    void SetGenerating(bool generating);
    void SetLabelText(QLabel* label, const std::string& text);

    std::unique_ptr<Ui::TForm2> ui;
    TForm1* m_form1;
    TCandidateSource* m_candidates = nullptr;
    bool m_generating = false;

    std::int32_t KeyLength = 0;
    bool StopPressed = false;
};

} // namespace zarn
