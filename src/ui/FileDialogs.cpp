#include "ui/FileDialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

namespace zarn {

namespace {

std::optional<std::string> Chosen(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return QFile::encodeName(path).toStdString();
}

} // namespace

std::optional<std::string> TQtFileDialogs::ExecuteOpenDialog(const std::string& initialFolder) {
    return Chosen(QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(),
                                               QFile::decodeName(QByteArray::fromStdString(initialFolder))));
}

std::optional<std::string> TQtFileDialogs::ExecuteSaveDialog(const std::string& initialFolder,
                                                             bool overwritePrompt) {
    const QFileDialog::Options options =
        overwritePrompt ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite;
    return Chosen(QFileDialog::getSaveFileName(QApplication::activeWindow(), QString(),
                                               QFile::decodeName(QByteArray::fromStdString(initialFolder)),
                                               QString(), nullptr, options));
}

} // namespace zarn
