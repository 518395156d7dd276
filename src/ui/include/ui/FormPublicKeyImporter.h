// TForm1, the main window: the fields of one key record in edit boxes, with Import, Export and
// Exit. It owns the key record component ZarnPublicKey1 and does no file or record work itself: its
// handlers copy values between the boxes and the component, call ImportKey or ExportKey, and show
// the message these return.
//
// The boxes hold the record's 8-bit texts as Latin-1 (each byte the character of the same code);
// the index, indicators and lengths stand in them as decimal integers (IntToStr / StrToInt).
// Setting a box's text from code runs its change handler only when the text differs.
//
// The handlers are connected in the constructor and run through CallHandler, so an error raised in
// one ends it and reaches the default error box. The "Generate RSA Keys..." button (Button3) is
// hidden and disabled; its handler shows the key generation window modally.
#pragma once

#include "platform/FileDialogs.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace Ui {
class TForm1;
}

namespace zarn {

class TZarnPublicKey;

class TForm1 : public QWidget {
    Q_OBJECT

public:
    // Builds the window from its stored layout (object name "Form1"), maximised when shown, with
    // ZarnPublicKey1 created with ShowFileDialog true and the program's Qt file dialogs.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // "Import..." pressed: ImportKey, its message in a message box, then every property into the
    // boxes (Edit1 to Edit11, in that order) whatever the status.
    void Button1Click(QObject* Sender);
    // Imports `fileName` as Button1Click does when that file is chosen in the Import dialog: the
    // same message box and the same boxes filled. The program calls it for a file it is started with.
    void ImportFile(const std::string& fileName);
    // "Export..." pressed: Edit8Change and Edit9Change, the boxes Edit1 to Edit9 into the component
    // (raises EConvertError at the first numeric box that is not an integer), ExportKey, its message
    // in a message box, then HashResult into Edit10.
    void Button2Click(QObject* Sender);
    // "Generate RSA Keys..." pressed: shows Form2 modally and returns when it closes (nothing
    // happens while there is no Form2).
    void Button3Click(QObject* Sender);
    // "Exit" pressed: closes the window, which ends the program.
    void Button4Click(QObject* Sender);
    // Edit8's text changed: Edit6 := (length of the trimmed text) div 2, unless the trimmed text is
    // empty. Edit9Change does the same from Edit9 into Edit7.
    void Edit8Change(QObject* Sender);
    void Edit9Change(QObject* Sender);

    TZarnPublicKey* ZarnPublicKey1() const { return m_zarnPublicKey1; }

    // The key generation window that Button3Click shows; it registers itself when it is created.
    void SetForm2(QDialog* Form2) { m_form2 = Form2; }
    QDialog* Form2() const { return m_form2; }

    // The controls, for the windows that write into this one and for tests.
    QLineEdit* Edit1() const;
    QLineEdit* Edit2() const;
    QLineEdit* Edit3() const;
    QLineEdit* Edit4() const;
    QLineEdit* Edit5() const;
    QLineEdit* Edit6() const;
    QLineEdit* Edit7() const;
    QLineEdit* Edit8() const;
    QLineEdit* Edit9() const;
    QLineEdit* Edit10() const;
    QLineEdit* Edit11() const;
    QPushButton* Button1() const;
    QPushButton* Button2() const;
    QPushButton* Button3() const;
    QPushButton* Button4() const;
    QPlainTextEdit* Memo1() const;

private:
    std::unique_ptr<Ui::TForm1> ui;
    TZarnPublicKey* m_zarnPublicKey1;
    std::unique_ptr<IFileDialogs> m_fileDialogs;
    QPointer<QDialog> m_form2;
};

// A box's text as the system's 8-bit text, and the reverse (Latin-1 both ways; a character above
// 255 becomes "?").
std::string EditText(const QLineEdit* edit);
void SetEditText(QLineEdit* edit, const std::string& text);

} // namespace zarn
