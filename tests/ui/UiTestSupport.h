// The application object for the window tests, and helpers to drive the main window.
#pragma once

#include "tests/keyrecord/KeyFileFixtures.h"
#include "tests/support/TestSupport.h"
#include "ui/FileDialogs.h"
#include "ui/FormPublicKeyImporter.h"
#include "ui/MessageBoxes.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

namespace zarn::test {

// The object names of the controls that Tab visits from the focused one, `count` presses.
std::vector<std::string> TabWalk(std::size_t count);

// The object names along the stored focus chain from `first` round to it, controls that take the
// focus by Tab only.
std::vector<std::string> FocusChain(QWidget* first);

// Upper-case hexadecimal text of `bytes`.
std::string HexText(const std::string& bytes);

// The real main window, shown, with its message boxes recorded and its file dialogs scripted.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QLineEdit* Box(const char* name) const;
    QPushButton* Button(const char* name) const;
    // The box's text as 8-bit text.
    std::string Text(const char* name) const;
    // Edit1 to Edit11.
    std::vector<std::string> AllBoxes() const;
    // Empties the box and types `text` into it, key by key.
    void Type(const char* name, const QString& text);
    void Click(const char* name);

    // Writes `bytes` as the key line of a file named `name` in the temporary folder, answers the open
    // dialog with it and presses "Import..."; returns the file's path.
    std::string ImportRecord(const std::string& name, const std::string& bytes);

    TTemporaryFolder folder;
    TRecordedMessageBoxes boxes;
    TScriptedFileDialogs dialogs;
    std::unique_ptr<TForm1> form;
};

} // namespace zarn::test
