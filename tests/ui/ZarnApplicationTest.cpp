#include "ui/ZarnApplication.h"
#include "keyrecord/ZarnPublicKey.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBoxes.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <stdexcept>

namespace zarn {
namespace {

TEST(DefaultErrorBox, AddsAFullStopAfterCharactersThatSortAfterIt) {
    const std::pair<std::string, std::string> rows[] = {
        {"'' ist kein g\xFCltiger Integerwert", "'' ist kein g\xFCltiger Integerwert."},
        {"Done.", "Done."},
        {"Stop!", "Stop!"},
        {"(see above)", "(see above)"},
        {"minus -", "minus -"},
        {"a path/", "a path/."},
        {"line 7", "line 7."},
        {"ends in \xFC", "ends in \xFC."},
        {"", ""},
    };
    for (const auto& [message, shown] : rows)
        EXPECT_EQ(DefaultErrorBoxText(message), shown) << message;
}

// A receiver whose event handling raises.
class TThrowingObject : public QObject {
public:
    explicit TThrowingObject(std::function<void()> raise) : m_raise(std::move(raise)) {}
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            m_raise();
        return QObject::event(event);
    }

private:
    std::function<void()> m_raise;
};

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override { SetMessageBoxes(&boxes); }
    void TearDown() override { SetMessageBoxes(nullptr); }
    TRecordedMessageBoxes boxes;
};

TEST_F(ApplicationTest, NotifyShowsAnErrorThatEscapesAnEventHandler) {
    ASSERT_NE(dynamic_cast<TZarnApplication*>(QCoreApplication::instance()), nullptr);
    TThrowingObject convert([] { throw EConvertError("'x' ist kein g\xFCltiger Integerwert"); });
    QEvent sent(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&convert, &sent));
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Kind, TRecordedMessageBoxes::mbError);
    EXPECT_EQ(boxes.Shown[0].Text, "'x' ist kein g\xFCltiger Integerwert.");

    // Posted events run from the message loop; the loop goes on after the error.
    TThrowingObject other([] { throw std::runtime_error("disk full!"); });
    QCoreApplication::postEvent(&other, new QEvent(QEvent::User));
    bool ranAfter = false;
    QTimer::singleShot(0, [&] { ranAfter = true; });
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[1].Text, "disk full!");
    EXPECT_TRUE(ranAfter);
}

TEST_F(ApplicationTest, CallHandlerStopsTheErrorAtTheHandler) {
    bool after = false;
    CallHandler([] { throw EInOutError("Cannot create \"/x/y\": No such file or directory"); });
    after = true;
    EXPECT_TRUE(after);
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Cannot create \"/x/y\": No such file or directory.");
    CallHandler([] {});
    EXPECT_EQ(boxes.Shown.size(), 1u);
}

// Runs `check` on the modal window that `show` opens, then closes that window with `close`.
template <typename TWindow>
void WhileModal(const std::function<void()>& show, const std::function<void(TWindow*)>& check,
                const std::function<void(TWindow*)>& close) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<TWindow*>(QApplication::activeModalWidget());
        if (window == nullptr) {
            ADD_FAILURE() << "no modal window";
            QApplication::activeModalWidget()->close();
            return;
        }
        seen = true;
        check(window);
        close(window);
    });
    show();
    EXPECT_TRUE(seen);
}

TEST(QtMessageBoxes, CaptionIconAndTextOfBothBoxes) {
    ASSERT_EQ(ApplicationTitle(), "Morvel Zarn Public Key Importer");
    TQtMessageBoxes qtBoxes;
    const auto ok = [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); };
    WhileModal<QMessageBox>([&] { qtBoxes.ShowMessage("Import successfully completed!"); },
                            [](QMessageBox* box) {
                                EXPECT_EQ(box->windowTitle(), "Morvel Zarn Public Key Importer");
                                EXPECT_EQ(box->text(), "Import successfully completed!");
                                EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
                                EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
                            },
                            ok);
    // 8-bit texts are shown as Latin-1; a file name in UTF-8 stays as it is.
    WhileModal<QMessageBox>([&] { qtBoxes.ShowErrorBox("'' ist kein g\xFCltiger Integerwert."); },
                            [](QMessageBox* box) {
                                EXPECT_EQ(box->windowTitle(), "Morvel Zarn Public Key Importer");
                                EXPECT_EQ(box->text(),
                                          QString::fromUtf8("'' ist kein g\u00FCltiger Integerwert."));
                                EXPECT_EQ(box->icon(), QMessageBox::Critical);
                            },
                            ok);
    WhileModal<QMessageBox>([&] { qtBoxes.ShowMessage("File /tmp/Schl\xC3\xBCssel.key does not exist"); },
                            [](QMessageBox* box) {
                                EXPECT_EQ(box->text(),
                                          QString::fromUtf8("File /tmp/Schl\u00FCssel.key does not exist"));
                            },
                            ok);
}

TEST(QtFileDialogs, OpenAndSaveDialogsStartInTheFolderAndSaveAsksBeforeReplacing) {
    test::TTemporaryFolder folder;
    const QString folderName = QDir(QString::fromStdString(folder.Path())).canonicalPath();
    TQtFileDialogs dialogs;
    std::optional<std::string> chosen = std::string("not asked");

    WhileModal<QFileDialog>([&] { chosen = dialogs.ExecuteOpenDialog(folder.Path()); },
                            [&](QFileDialog* dialog) {
                                EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
                                EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
                                EXPECT_EQ(dialog->directory().canonicalPath(), folderName);
                            },
                            [](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(chosen, std::nullopt);

    const std::string existing = folder.File("existing.key");
    test::WriteFile(existing, "00\r\n");
    for (const bool overwritePrompt : {true, false}) {
        WhileModal<QFileDialog>([&] { chosen = dialogs.ExecuteSaveDialog(folder.Path(), overwritePrompt); },
                                [&](QFileDialog* dialog) {
                                    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
                                    EXPECT_EQ(dialog->directory().canonicalPath(), folderName);
                                    EXPECT_EQ(dialog->testOption(QFileDialog::DontConfirmOverwrite),
                                              !overwritePrompt);
                                    EXPECT_TRUE(dialog->nameFilters().isEmpty() ||
                                                dialog->nameFilters() == QStringList{"All Files (*)"});
                                    EXPECT_TRUE(dialog->defaultSuffix().isEmpty());
                                },
                                [](QFileDialog* dialog) { dialog->reject(); });
        EXPECT_EQ(chosen, std::nullopt);
    }
}

TEST(ScriptedFileDialogs, AnswersInOrderAndCancelsWhenNoAnswerIsLeft) {
    TScriptedFileDialogs dialogs;
    dialogs.Choose("/a.key");
    dialogs.Cancel();
    EXPECT_EQ(dialogs.ExecuteOpenDialog("/start"), "/a.key");
    EXPECT_EQ(dialogs.ExecuteSaveDialog("", true), std::nullopt);
    EXPECT_EQ(dialogs.ExecuteSaveDialog("/b", false), std::nullopt);
    ASSERT_EQ(dialogs.Asked.size(), 3u);
    EXPECT_EQ(dialogs.Asked[0].InitialFolder, "/start");
    EXPECT_EQ(dialogs.Asked[1].Kind, TScriptedFileDialogs::fdSave);
    EXPECT_TRUE(dialogs.Asked[1].OverwritePrompt);
    EXPECT_FALSE(dialogs.Asked[2].OverwritePrompt);
}

} // namespace
} // namespace zarn

namespace zarn::test {
namespace {

// Started with a key file, the window imports it as the Import... button does with that file chosen.
TEST_F(MainWindowTest, ImportsTheFileItIsStartedWith) {
    const std::string good =
        ImportRecord("good.key", std::string("\x47\x11\x00\x00\x42\x03\x12\x29\x01\x01\x01\x01\xC5\x03", 14));
    const std::vector<std::string> byButton = AllBoxes();
    const std::vector<TRecordedMessageBoxes::TShown> shownByButton = boxes.Shown;
    Type("Edit1", "0000000000");
    boxes.Shown.clear();
    form->ImportFile(good);
    EXPECT_EQ(AllBoxes(), byButton);
    EXPECT_EQ(boxes.Shown, shownByButton);
    EXPECT_EQ(dialogs.Asked.size(), 1u) << "no dialog is asked for the file the window was given";
    EXPECT_EQ(form->ZarnPublicKey1()->GetFileDialogs(), &dialogs) << "the window's dialogs come back";

    EXPECT_EQ(FileArgument({"zarn-key-importer"}), std::nullopt);
    EXPECT_EQ(FileArgument({"zarn-key-importer", "a b.key"}), "a b.key");
    EXPECT_THROW(FileArgument({"zarn-key-importer", "a.key", "b.key"}), Exception);
    EXPECT_THROW(FileArgument({"zarn-key-importer", "--frob"}), Exception);
    const char* help[] = {"zarn-key-importer", "-platform", "offscreen", "--help"};
    EXPECT_NE(ProgramInformation(4, help).value_or("").find("Usage: zarn-key-importer [FILE]"),
              std::string::npos);
    const char* version[] = {"zarn-key-importer", "--version"};
    EXPECT_EQ(ProgramInformation(2, version).value_or("").rfind("zarn-key-importer ", 0), 0u);
    const char* file[] = {"zarn-key-importer", "a.key"};
    EXPECT_EQ(ProgramInformation(2, file), std::nullopt);
}

// The window keeps no settings: an import and an export through Qt's own file dialogs write nothing
// into the user's configuration folder (a fresh one for this program, XDG_CONFIG_HOME), and Qt's
// settings files all lie where none can be created.
TEST_F(MainWindowTest, QtFileDialogsLeaveNoSettingsFile) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(config, nullptr) << "the test program runs with a configuration folder of its own";
    std::filesystem::remove_all(config);
    std::filesystem::create_directories(config);
    TQtFileDialogs qtDialogs;
    form->ZarnPublicKey1()->SetFileDialogs(&qtDialogs);
    const std::string source = folder.File("in.key");
    WriteFile(source, "4711000042031229010101C503" + std::string(40, '0') + "\r\n");
    // Answers the next file dialog with `path` once it is open.
    const auto answer = [](const std::string& path) {
        QTimer::singleShot(0, [path] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(QString::fromStdString(path));
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, public in QDialog
        });
    };
    answer(source);
    Click("Button1");
    answer(folder.File("out.key"));
    Click("Button2");
    form->ZarnPublicKey1()->SetFileDialogs(&dialogs);
    EXPECT_TRUE(std::filesystem::exists(folder.File("out.key"))) << "the dialogs were answered";
    EXPECT_TRUE(std::filesystem::is_empty(config)) << "a settings file was written in " << config;
    QSettings settings(QSettings::UserScope, "QtProject");
    EXPECT_EQ(settings.fileName().toStdString().rfind("/dev/null/", 0), 0u)
        << settings.fileName().toStdString();
}

} // namespace
} // namespace zarn::test
