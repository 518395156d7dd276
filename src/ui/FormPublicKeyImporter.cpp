#include "ui/FormPublicKeyImporter.h"

#include "images/ZarnPicture.xpm"
#include "keyrecord/ZarnPublicKey.h"
#include "platform/Conversions.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBoxes.h"
#include "ui/ZarnApplication.h"
#include "ui_FormPublicKeyImporter.h"

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPixmap>

#include <limits>

namespace zarn {

namespace {

// The layout is measured in pixels at 96 pixels per inch; the stored fonts are given in points at
// that resolution and become pixel sizes here, so the texts keep their size on any screen.
void FontsToPixels(QWidget* root) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        if (!widget->testAttribute(Qt::WA_SetFont) || widget->font().pointSizeF() <= 0)
            continue;
        QFont font = widget->font();
        font.setPixelSize(qRound(font.pointSizeF() * 96.0 / 72.0));
        if (WindowFontStretch() != QFont::AnyStretch)
            font.setStretch(WindowFontStretch());
        widget->setFont(font);
    }
}

// The title is bold and 32 pixels high, a size the window's bitmap font does not have, and too wide
// for the label in a scalable stand-in. It then takes a scalable narrow bold sans, made smaller only
// where the text would not fit the label's width, or its ink would not fit the label's height with
// the baseline at the bottom.
void FitTitleFont(QLabel* title) {
    const auto fits = [title](const QFont& font) {
        const QFontMetrics metrics(font);
        const QRect ink = metrics.tightBoundingRect(title->text());
        return metrics.horizontalAdvance(title->text()) <= title->width() &&
               title->height() - metrics.descent() + ink.top() >= 0;
    };
    QFont font = title->font();
    if (QFontInfo(font).pixelSize() == font.pixelSize() && fits(font))
        return;
    if (font.stretch() != QFont::AnyStretch)
        font.setStretch(QFont::AnyStretch);
    font.setFamilies({"Nimbus Sans Narrow", "Liberation Sans Narrow", "Arial Narrow", "DejaVu Sans Condensed",
                      "DejaVu Sans"});
    while (font.pixelSize() > 8 && !fits(font))
        font.setPixelSize(font.pixelSize() - 1);
    title->setFont(font);
    title->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
}

// The contact panel shows its nine lines without scrolling. With the window's bitmap font they fill
// the panel exactly; a substitute font with a taller line is made smaller until they fit.
void FitMemoFont(QPlainTextEdit* memo) {
    QFont font = memo->font();
    const int lines = memo->document()->blockCount();
    while (font.pixelSize() > 8 && QFontMetrics(font).lineSpacing() * lines > memo->height())
        font.setPixelSize(font.pixelSize() - 1);
    memo->setFont(font);
}

} // namespace

std::string EditText(const QLineEdit* edit) {
    return edit->text().toLatin1().toStdString();
}

void SetEditText(QLineEdit* edit, const std::string& text) {
    edit->setText(QString::fromLatin1(text));
    // A text set from code is shown from its start, as the user would read it.
    edit->setCursorPosition(0);
}

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TForm1>()), m_zarnPublicKey1(new TZarnPublicKey(this)),
      m_fileDialogs(std::make_unique<TQtFileDialogs>()) {
    ui->setupUi(this);
    setObjectName("Form1");
    FontsToPixels(this);
    FitTitleFont(ui->Label11);
    ui->Memo1->document()->setDocumentMargin(0);
    FitMemoFont(ui->Memo1);
    // The boxes take texts of any length.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->setMaxLength(std::numeric_limits<int>::max());
    setBackgroundRole(QPalette::Button);
    setWindowState(Qt::WindowMaximized);

    // An 80 x 64 picture of 256 colours, drawn at the control's top left.
    ui->Image2->setPixmap(QPixmap::fromImage(QImage(ZarnPicture).convertToFormat(QImage::Format_Indexed8)));
    for (QLabel* label : {ui->Label1, ui->Label2, ui->Label3, ui->Label4, ui->Label5, ui->Label6, ui->Label7,
                          ui->Label8, ui->Label9, ui->Label10, ui->Label12})
        label->adjustSize();

    m_zarnPublicKey1->setObjectName("ZarnPublicKey1");
    m_zarnPublicKey1->SetShowFileDialog(true);
    m_zarnPublicKey1->SetFileDialogs(m_fileDialogs.get());

    MakeButtonsPressOnlyWhenFocused(this);

    ConnectHandler(ui->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    ConnectHandler(ui->Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    ConnectHandler(ui->Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    ConnectHandler(ui->Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    ConnectHandler(ui->Edit8, &QLineEdit::textChanged, this, &TForm1::Edit8Change);
    ConnectHandler(ui->Edit9, &QLineEdit::textChanged, this, &TForm1::Edit9Change);
}

TForm1::~TForm1() {
    // The component may still point at the dialogs while the window's children are deleted.
    m_zarnPublicKey1->SetFileDialogs(nullptr);
}

void TForm1::Button1Click(QObject* /*Sender*/) {
    std::string message;
    m_zarnPublicKey1->ImportKey(message);
    ShowMessage(message);
    const TZarnPublicKey& key = *m_zarnPublicKey1;
    SetEditText(ui->Edit1, key.GetPublicKeyOwnerId());
    SetEditText(ui->Edit2, IntToStr(key.GetPublicKeyIndex()));
    SetEditText(ui->Edit3, key.GetPublicKeyExpDate());
    SetEditText(ui->Edit4, IntToStr(key.GetHashAlgorithmIndicator()));
    SetEditText(ui->Edit5, IntToStr(key.GetPublicKeyAlgorithmIndicator()));
    SetEditText(ui->Edit6, IntToStr(key.GetPublicKeyModulusLength()));
    SetEditText(ui->Edit7, IntToStr(key.GetPublicKeyExponentLength()));
    SetEditText(ui->Edit8, key.GetPublicKeyModulus());
    SetEditText(ui->Edit9, key.GetPublicKeyExponent());
    SetEditText(ui->Edit10, key.GetHashResult());
    SetEditText(ui->Edit11, key.GetExpectedHashResult());
}

void TForm1::ImportFile(const std::string& fileName) {
    TScriptedFileDialogs chosen;
    chosen.Choose(fileName);
    struct TRestoreDialogs {
        TZarnPublicKey& Key;
        IFileDialogs* Dialogs;
        ~TRestoreDialogs() { Key.SetFileDialogs(Dialogs); }
    } restore{*m_zarnPublicKey1, m_zarnPublicKey1->GetFileDialogs()};
    m_zarnPublicKey1->SetFileDialogs(&chosen);
    Button1Click(ui->Button1);
}

void TForm1::Button2Click(QObject* /*Sender*/) {
    Edit8Change(ui->Edit8);
    Edit9Change(ui->Edit9);
    TZarnPublicKey& key = *m_zarnPublicKey1;
    key.SetPublicKeyOwnerId(EditText(ui->Edit1));
    key.SetPublicKeyIndex(StrToInt(EditText(ui->Edit2)));
    key.SetPublicKeyExpDate(EditText(ui->Edit3));
    key.SetHashAlgorithmIndicator(StrToInt(EditText(ui->Edit4)));
    key.SetPublicKeyAlgorithmIndicator(StrToInt(EditText(ui->Edit5)));
    key.SetPublicKeyModulusLength(StrToInt(EditText(ui->Edit6)));
    key.SetPublicKeyExponentLength(StrToInt(EditText(ui->Edit7)));
    key.SetPublicKeyModulus(EditText(ui->Edit8));
    key.SetPublicKeyExponent(EditText(ui->Edit9));
    std::string message;
    key.ExportKey(message);
    ShowMessage(message);
    SetEditText(ui->Edit10, key.GetHashResult());
}

void TForm1::Button3Click(QObject* /*Sender*/) {
    if (m_form2)
        m_form2->exec();
}

void TForm1::Button4Click(QObject* /*Sender*/) {
    close();
}

void TForm1::Edit8Change(QObject* /*Sender*/) {
    const std::string text = Trim(EditText(ui->Edit8));
    if (!text.empty())
        SetEditText(ui->Edit6, IntToStr(static_cast<std::int64_t>(text.size() / 2)));
}

void TForm1::Edit9Change(QObject* /*Sender*/) {
    const std::string text = Trim(EditText(ui->Edit9));
    if (!text.empty())
        SetEditText(ui->Edit7, IntToStr(static_cast<std::int64_t>(text.size() / 2)));
}

QLineEdit* TForm1::Edit1() const {
    return ui->Edit1;
}
QLineEdit* TForm1::Edit2() const {
    return ui->Edit2;
}
QLineEdit* TForm1::Edit3() const {
    return ui->Edit3;
}
QLineEdit* TForm1::Edit4() const {
    return ui->Edit4;
}
QLineEdit* TForm1::Edit5() const {
    return ui->Edit5;
}
QLineEdit* TForm1::Edit6() const {
    return ui->Edit6;
}
QLineEdit* TForm1::Edit7() const {
    return ui->Edit7;
}
QLineEdit* TForm1::Edit8() const {
    return ui->Edit8;
}
QLineEdit* TForm1::Edit9() const {
    return ui->Edit9;
}
QLineEdit* TForm1::Edit10() const {
    return ui->Edit10;
}
QLineEdit* TForm1::Edit11() const {
    return ui->Edit11;
}
QPushButton* TForm1::Button1() const {
    return ui->Button1;
}
QPushButton* TForm1::Button2() const {
    return ui->Button2;
}
QPushButton* TForm1::Button3() const {
    return ui->Button3;
}
QPushButton* TForm1::Button4() const {
    return ui->Button4;
}
QPlainTextEdit* TForm1::Memo1() const {
    return ui->Memo1;
}

} // namespace zarn
