#include "ui/MessageBoxes.h"

#include "platform/TextEncoding.h"
#include "ui/ZarnApplication.h"

#include <QApplication>
#include <QMessageBox>

namespace zarn {

namespace {

IMessageBoxes* installedBoxes = nullptr;

void ShowBox(QMessageBox::Icon icon, const std::string& text) {
    QMessageBox box(icon, QString::fromStdString(ApplicationTitle()),
                    QString::fromStdString(MessageToUtf8(text)), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

IMessageBoxes& MessageBoxes() {
    static TQtMessageBoxes qtBoxes;
    return installedBoxes != nullptr ? *installedBoxes : qtBoxes;
}

void SetMessageBoxes(IMessageBoxes* boxes) {
    installedBoxes = boxes;
}

void ShowMessage(const std::string& text) {
    MessageBoxes().ShowMessage(text);
}

void TQtMessageBoxes::ShowMessage(const std::string& text) {
    ShowBox(QMessageBox::NoIcon, text);
}

void TQtMessageBoxes::ShowErrorBox(const std::string& text) {
    ShowBox(QMessageBox::Critical, text);
}

void TRecordedMessageBoxes::ShowMessage(const std::string& text) {
    Shown.push_back({mbMessage, text});
    if (OnShow)
        OnShow(Shown.back());
}

void TRecordedMessageBoxes::ShowErrorBox(const std::string& text) {
    Shown.push_back({mbError, text});
    if (OnShow)
        OnShow(Shown.back());
}

} // namespace zarn
