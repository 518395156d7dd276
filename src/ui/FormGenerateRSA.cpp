#include "ui/FormGenerateRSA.h"

#include "platform/Clock.h"
#include "platform/Conversions.h"
#include "ui/FormPublicKeyImporter.h"
#include "ui/MessageBoxes.h"
#include "ui/ZarnApplication.h"
#include "ui_FormGenerateRSA.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QScreen>

#include <limits>

namespace zarn {

namespace {

// The window's font is 10 pixels high, a size given in pixels rather than in points.
constexpr int kFontPixelSize = 10;

std::string LengthText(const std::string& hex) {
    return IntToStr(static_cast<std::int64_t>(hex.size() / 2));
}

} // namespace

TForm2::TForm2(TForm1* Form1) : QDialog(Form1), ui(std::make_unique<Ui::TForm2>()), m_form1(Form1) {
    ui->setupUi(this);
    setObjectName("Form2");
    QFont windowFont = font();
    windowFont.setPixelSize(kFontPixelSize);
    setFont(windowFont);
    setBackgroundRole(QPalette::Button);

    // The disclaimer stands on the window's own colour, and in the grey of disabled text that stays
    // readable on it.
    QPalette memoPalette = ui->Memo1->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        memoPalette.setColor(group, QPalette::Base, memoPalette.color(QPalette::Active, QPalette::Button));
    memoPalette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    ui->Memo1->setPalette(memoPalette);
    ui->Memo1->document()->setDocumentMargin(0);

    // The boxes take texts of any length: a modulus of 16384 bytes or more has more hex digits than
    // a line edit accepts by default.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->setMaxLength(std::numeric_limits<int>::max());
    // Labels grow with their texts, so a start time or a runs line is never cut.
    for (QLabel* label : findChildren<QLabel*>())
        label->adjustSize();

    // Enter in a box must not start a generation, which would throw away the key pair shown.
    MakeButtonsPressOnlyWhenFocused(this);

    ConnectHandler(ui->Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    ConnectHandler(ui->Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    ConnectHandler(ui->Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    ConnectHandler(ui->Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
    FormCreate(this);
    Form1->SetForm2(this);
}

TForm2::~TForm2() = default;

void TForm2::FormCreate(QObject* /*Sender*/) {
    KeyLength = 0;
    const QRect edit8 = ui->Edit8->geometry();
    const QRect button3 = ui->Button3->geometry();
    resize(edit8.x() + edit8.width() + 50, button3.y() + button3.height() + 50);
}

void TForm2::Button2Click(QObject* /*Sender*/) {
    if (m_generating)
        return;
    SetEditText(ui->Edit9, "");
    SetEditText(ui->Edit3, "");
    SetEditText(ui->Edit2, "");
    SetLabelText(ui->Label6, "0");
    SetLabelText(ui->Label10, "Start time: " + LongTimeText());
    SetLabelText(ui->Label11, "This may take several minutes");
    repaint();
    StopPressed = false;
    if (!TryStrToInt(EditText(ui->Edit4), KeyLength)) {
        ShowMessage("Enter a numeric length value");
        KeyLength = 0;
    }
    if (KeyLength < 1) {
        ShowMessage("Enter a random string first");
        return;
    }
    const TKeyGenResult result = Generate();
    SetLabelText(ui->Label11, "End time: " + LongTimeText());
    SetLabelText(ui->Label12, "Runs: " + IntToStr(result.Runs));
    switch (result.Outcome) {
    case kgStopped:
        SetEditText(ui->Edit8, "Stopped by user");
        break;
    case kgMaxRunsReached:
        SetEditText(ui->Edit8, "Max. runs reached, no valid key pair generated");
        break;
    case kgValid:
        break;
    }
}

TKeyGenResult TForm2::Generate() {
    // Ends the generating state also when the generation raises.
    struct TGenerationEnd {
        TForm2* Form;
        QPointer<QWidget> FocusMovedTo;
        QPointer<QWidget> FocusedBefore;
        ~TGenerationEnd() {
            Form->SetGenerating(false);
            // The pressed button lost the focus while disabled; it gets it back unless the user has
            // put the focus elsewhere since.
            if (FocusedBefore && Form->isVisible() && Form->focusWidget() == FocusMovedTo)
                FocusedBefore->setFocus();
        }
    };
    const QPointer<QWidget> focusedBefore = focusWidget();
    SetGenerating(true);
    const TGenerationEnd end{this, focusWidget(), focusedBefore};
    if (m_candidates != nullptr)
        return GenerateRsaKeyPair(KeyLength, *this, *m_candidates);
    return GenerateRsaKeyPair(KeyLength, *this);
}

void TForm2::SetGenerating(bool generating) {
    m_generating = generating;
    for (QPushButton* button : {ui->Button2, ui->Button1, ui->Button3})
        button->setEnabled(!generating);
}

void TForm2::Button3Click(QObject* /*Sender*/) {
    close();
}

void TForm2::Button1Click(QObject* /*Sender*/) {
    SetEditText(m_form1->Edit8(), EditText(ui->Edit8));
    SetEditText(m_form1->Edit9(), EditText(ui->Edit9));
    SetEditText(m_form1->Edit6(), LengthText(EditText(ui->Edit8)));
    SetEditText(m_form1->Edit7(), LengthText(EditText(ui->Edit9)));
    SetEditText(m_form1->Edit4(), "1");
    SetEditText(m_form1->Edit5(), "1");
}

void TForm2::Button4Click(QObject* /*Sender*/) {
    StopPressed = true;
    SetEditText(ui->Edit8, "running, please wait (stop pressed)");
}

void TForm2::SetStatusText(const std::string& Text) {
    SetEditText(ui->Edit8, Text);
}

void TForm2::SetRunsText(const std::string& Text) {
    SetLabelText(ui->Label12, Text);
}

void TForm2::RepaintNow() {
    repaint();
}

void TForm2::ShowRunResult(const std::string& ExponentHex, const std::string& ModulusHex,
                           const std::string& PrivateExponentHex) {
    SetEditText(ui->Edit9, ExponentHex);
    SetEditText(ui->Edit8, ModulusHex);
    SetEditText(ui->Edit3, PrivateExponentHex);
    SetEditText(ui->Edit2, ModulusHex);
    SetLabelText(ui->Label6, LengthText(EditText(ui->Edit8)));
}

void TForm2::ProcessPendingEvents() {
    QApplication::processEvents();
}

bool TForm2::IsStopRequested() {
    return StopPressed;
}

void TForm2::setVisible(bool visible) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (visible && !isVisible() && screen != nullptr) {
        // The frame's size once the window has been shown; before, the frame is not known yet.
        const QRect desktop = screen->geometry();
        const QSize size = frameGeometry().size();
        move(desktop.left() + (desktop.width() - size.width()) / 2,
             desktop.top() + (desktop.height() - size.height()) / 2);
    }
    QDialog::setVisible(visible);
}

void TForm2::reject() {
    if (m_generating)
        return;
    QDialog::reject();
}

void TForm2::SetLabelText(QLabel* label, const std::string& text) {
    label->setText(QString::fromLatin1(text));
    label->adjustSize();
}

QPlainTextEdit* TForm2::Memo1() const {
    return ui->Memo1;
}
QLineEdit* TForm2::Edit2() const {
    return ui->Edit2;
}
QLineEdit* TForm2::Edit3() const {
    return ui->Edit3;
}
QLineEdit* TForm2::Edit4() const {
    return ui->Edit4;
}
QLineEdit* TForm2::Edit8() const {
    return ui->Edit8;
}
QLineEdit* TForm2::Edit9() const {
    return ui->Edit9;
}
QLabel* TForm2::Label6() const {
    return ui->Label6;
}
QLabel* TForm2::Label10() const {
    return ui->Label10;
}
QLabel* TForm2::Label11() const {
    return ui->Label11;
}
QLabel* TForm2::Label12() const {
    return ui->Label12;
}
QPushButton* TForm2::Button1() const {
    return ui->Button1;
}
QPushButton* TForm2::Button2() const {
    return ui->Button2;
}
QPushButton* TForm2::Button3() const {
    return ui->Button3;
}
QPushButton* TForm2::Button4() const {
    return ui->Button4;
}

} // namespace zarn
