#include "tests/ui/UiTestSupport.h"

#include "keyrecord/ZarnPublicKey.h"
#include "ui/ZarnApplication.h"

#include <QTest>

#include <cstdlib>

namespace zarn::test {

namespace {

// One application object for the whole test program, created before the first test runs.
class TApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // A configuration folder of the program's own, as a fresh user's, before Qt reads one.
        setenv("XDG_CONFIG_HOME", m_config.File("config").c_str(), 1);
        m_application = std::make_unique<TZarnApplication>(m_argc, m_argv);
        SetApplicationTitle(kApplicationTitle);
    }
    void TearDown() override { m_application.reset(); }

private:
    TTemporaryFolder m_config;
    int m_argc = 1;
    char m_name[9] = "ui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<TZarnApplication> m_application;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

} // namespace

std::vector<std::string> TabWalk(std::size_t count) {
    std::vector<std::string> visited;
    for (std::size_t i = 0; i < count; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget()->objectName().toStdString());
    }
    return visited;
}

std::vector<std::string> FocusChain(QWidget* first) {
    std::vector<std::string> chain;
    QWidget* widget = first;
    do {
        if (!widget->objectName().isEmpty() && (widget->focusPolicy() & Qt::TabFocus) != 0)
            chain.push_back(widget->objectName().toStdString());
        widget = widget->nextInFocusChain();
    } while (widget != first);
    return chain;
}

std::string HexText(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

void MainWindowTest::SetUp() {
    SetMessageBoxes(&boxes);
    form = std::make_unique<TForm1>();
    form->ZarnPublicKey1()->SetFileDialogs(&dialogs);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
}

void MainWindowTest::TearDown() {
    form.reset();
    SetMessageBoxes(nullptr);
}

QLineEdit* MainWindowTest::Box(const char* name) const {
    QLineEdit* box = form->findChild<QLineEdit*>(name);
    EXPECT_NE(box, nullptr) << name;
    return box;
}

QPushButton* MainWindowTest::Button(const char* name) const {
    QPushButton* button = form->findChild<QPushButton*>(name);
    EXPECT_NE(button, nullptr) << name;
    return button;
}

std::string MainWindowTest::Text(const char* name) const {
    return Box(name)->text().toLatin1().toStdString();
}

std::vector<std::string> MainWindowTest::AllBoxes() const {
    std::vector<std::string> texts;
    for (int i = 1; i <= 11; ++i)
        texts.push_back(Text(("Edit" + std::to_string(i)).c_str()));
    return texts;
}

void MainWindowTest::Type(const char* name, const QString& text) {
    QLineEdit* box = Box(name);
    box->clear();
    QTest::keyClicks(box, text);
    ASSERT_EQ(box->text(), text) << name;
}

void MainWindowTest::Click(const char* name) {
    QTest::mouseClick(Button(name), Qt::LeftButton);
}

std::string MainWindowTest::ImportRecord(const std::string& name, const std::string& bytes) {
    const std::string path = folder.File(name);
    WriteFile(path, HexText(bytes) + "\r\n");
    dialogs.Choose(path);
    Click("Button1");
    return path;
}

} // namespace zarn::test
