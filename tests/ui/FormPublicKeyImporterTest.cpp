#include "tests/ui/UiTestSupport.h"

#include "keyrecord/ZarnPublicKey.h"
#include "platform/AtomicWriter.h"
#include "platform/Errors.h"
#include "ui/ZarnApplication.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <filesystem>

namespace zarn {

void PrintTo(const TRecordedMessageBoxes::TShown& shown, std::ostream* out) {
    *out << (shown.Kind == TRecordedMessageBoxes::mbMessage ? "message " : "error ") << '"' << shown.Text
         << '"';
}

namespace test {
namespace {

using TShown = TRecordedMessageBoxes::TShown;

TShown Message(const std::string& text) {
    return {TRecordedMessageBoxes::mbMessage, text};
}
TShown Error(const std::string& text) {
    return {TRecordedMessageBoxes::mbError, text};
}

// The record of the default TRecord: owner 123456789, index 5, date 1212, indicators 1 and 1,
// modulus ABCD, exponent 03.
const TRecord kFirst;

TEST_F(MainWindowTest, ImportShowsTheMessageThenFillsEveryBox) {
    std::vector<std::string> boxesWhileShown;
    boxes.OnShow = [&](const TShown&) { boxesWhileShown = AllBoxes(); };
    const std::string path = ImportRecord("first.key", kFirst.WithHash());

    EXPECT_EQ(boxes.Shown, std::vector<TShown>{Message("Import successfully completed!")});
    EXPECT_EQ(boxesWhileShown, std::vector<std::string>(11, ""))
        << "the boxes are filled after the box closes";
    const std::string hash = HexText(OpenSslSha1(kFirst.HashInput()));
    EXPECT_EQ(AllBoxes(), (std::vector<std::string>{"123456789", "5", "1212", "1", "1", "2", "1", "ABCD",
                                                    "03", hash, hash}));
    ASSERT_EQ(dialogs.Asked.size(), 1u);
    EXPECT_EQ(dialogs.Asked[0].Kind, TScriptedFileDialogs::fdOpen);
    EXPECT_EQ(dialogs.Asked[0].InitialFolder, "");

    // The next open dialog starts in the folder of the last file.
    TRecord second;
    second.Modulus = std::string(200, '\x5A');
    ImportRecord("second.key", second.WithHash());
    ASSERT_EQ(dialogs.Asked.size(), 2u);
    EXPECT_EQ(dialogs.Asked[1].InitialFolder, folder.Path());
    EXPECT_EQ(Text("Edit6"), "200");
    EXPECT_EQ(Text("Edit8"), HexText(second.Modulus));
    EXPECT_EQ(Box("Edit8")->cursorPosition(), 0) << "a long text is shown from its start";
}

TEST_F(MainWindowTest, FailedImportShowsNewFieldsBeforeTheFaultAndOldOnesAfter) {
    ImportRecord("first.key", kFirst.WithHash());
    const std::string firstHash = HexText(OpenSslSha1(kFirst.HashInput()));
    Type("Edit8", "ABCDEF");
    ASSERT_EQ(Text("Edit6"), "3");

    // Owner to exponent length decode; the file ends inside the 16-byte modulus.
    TRecord cut;
    cut.OwnerId = "\x98\x76\x54\x32\x10";
    cut.Index = 7;
    cut.ExpDate = "\x06\x30";
    cut.AlgorithmIndicator = 2;
    cut.ModulusLength = 16;
    ImportRecord("cut.key", cut.HashInput().substr(0, 14));

    EXPECT_EQ(boxes.Shown.back(), Message("Incorrect public key modulus"));
    EXPECT_EQ(form->ZarnPublicKey1()->GetPublicKeyModulusLength(), 16);
    // Edit6 first gets the component's 16; then Edit8 goes back from the typed text to the
    // component's ABCD, and its change handler sets Edit6 from that. Edit9 is unchanged, so Edit7
    // keeps the component's value.
    EXPECT_EQ(AllBoxes(), (std::vector<std::string>{"9876543210", "7", "0630", "1", "2", "2", "1", "ABCD",
                                                    "03", firstHash, firstHash}));

    // A record whose hash does not verify: Edit10 shows the file's hash, Edit11 the computed one.
    TRecord changed;
    changed.Modulus = "\xAB\xCE";
    std::string bytes = kFirst.WithHash();
    bytes[13] = '\xCE';
    ImportRecord("changed.key", bytes);
    EXPECT_EQ(boxes.Shown.back(), Message("Hash verification failed"));
    EXPECT_EQ(Text("Edit10"), firstHash);
    EXPECT_EQ(Text("Edit11"), HexText(OpenSslSha1(changed.HashInput())));
}

TEST_F(MainWindowTest, CancelledImportRefillsTheBoxesFromTheComponent) {
    ImportRecord("first.key", kFirst.WithHash());
    const std::vector<std::string> imported = AllBoxes();
    Type("Edit1", "typed");
    Type("Edit2", "99");
    Type("Edit9", "0100");
    ASSERT_EQ(Text("Edit7"), "2");

    dialogs.Cancel();
    Click("Button1");
    EXPECT_EQ(boxes.Shown.back(), Message("Import aborted during file dialog"));
    EXPECT_EQ(AllBoxes(), imported);
}

TEST_F(MainWindowTest, ExportWritesTheBoxesAndShowsTheNewHash) {
    ImportRecord("first.key", kFirst.WithHash());
    const std::string importedHash = Text("Edit11");
    // A blank and a no-break space in the owner identifier: the component gets them as bytes, the
    // file does not.
    Type("Edit1", QString::fromUtf8("12 34\u00A0567890"));
    Type("Edit6", "99");
    const std::string out = folder.File("out.key");
    dialogs.Choose(out);
    Click("Button2");

    EXPECT_EQ(boxes.Shown.back(), Message("Export successfully completed!"));
    ASSERT_EQ(dialogs.Asked.size(), 2u);
    EXPECT_EQ(dialogs.Asked[1].Kind, TScriptedFileDialogs::fdSave);
    EXPECT_EQ(dialogs.Asked[1].InitialFolder, folder.Path());
    EXPECT_TRUE(dialogs.Asked[1].OverwritePrompt);
    EXPECT_EQ(form->ZarnPublicKey1()->GetPublicKeyOwnerId(), "12 34\xA0"
                                                             "567890");
    EXPECT_EQ(Text("Edit6"), "2") << "the length box follows the modulus text";

    const std::string record = "\x12\x34\x56\x78\x90\x05\x12\x12\x01\x01\x02\x01\xAB\xCD\x03";
    const std::string newHash = HexText(OpenSslSha1(record));
    EXPECT_EQ(ReadFile(out), HexText(record) + newHash + "\r\n");
    EXPECT_EQ(Text("Edit10"), newHash);
    EXPECT_EQ(Text("Edit11"), importedHash);
    EXPECT_NE(newHash, importedHash);

    // The written file imports again.
    dialogs.Choose(out);
    Click("Button1");
    EXPECT_EQ(boxes.Shown.back(), Message("Import successfully completed!"));
    EXPECT_EQ(Text("Edit1"), "1234567890");
    EXPECT_EQ(Text("Edit11"), newHash);
}

TEST_F(MainWindowTest, ExportWithBlankModulusTakesTheTypedLengthAndHexPrefixes) {
    ImportRecord("first.key", kFirst.WithHash());
    Type("Edit2", "$9");
    Type("Edit8", "   ");
    Type("Edit6", "0x10");
    dialogs.Choose(folder.File("blank.key"));
    Click("Button2");
    EXPECT_EQ(boxes.Shown.back(), Message("Export successfully completed!"));
    EXPECT_EQ(form->ZarnPublicKey1()->GetPublicKeyIndex(), 9);
    EXPECT_EQ(form->ZarnPublicKey1()->GetPublicKeyModulusLength(), 16);
    EXPECT_EQ(form->ZarnPublicKey1()->GetPublicKeyModulus(), "   ");
    EXPECT_EQ(Text("Edit6"), "0x10");
}

TEST_F(MainWindowTest, LengthBoxesFollowTheTypedHexText) {
    for (const auto& [hexBox, lengthBox] : {std::pair{"Edit8", "Edit6"}, std::pair{"Edit9", "Edit7"}}) {
        SCOPED_TRACE(hexBox);
        Box(hexBox)->clear();
        Type(lengthBox, "42");
        // At every key the length box is updated.
        const QString digits = "ABCDEF1";
        for (int i = 0; i < digits.size(); ++i) {
            QTest::keyClick(Box(hexBox), digits[i].toLatin1());
            EXPECT_EQ(Text(lengthBox), std::to_string((i + 1) / 2)) << "after " << i + 1 << " digits";
        }
        EXPECT_EQ(Text(lengthBox), "3");

        Type(hexBox, "AB CD");
        EXPECT_EQ(Text(lengthBox), "2") << "an inner blank counts";
        Type(hexBox, "  ABCD  ");
        EXPECT_EQ(Text(lengthBox), "2") << "outer blanks do not";
        Type(hexBox, QString::fromUtf8("ABCD\u00A0"));
        EXPECT_EQ(Text(lengthBox), "2") << "a no-break space is no blank: 5 characters";
        Type(hexBox, QString::fromUtf8("ABCD\u00A0\u00A0"));
        EXPECT_EQ(Text(lengthBox), "3");

        Type(lengthBox, "42");
        Type(hexBox, "    ");
        EXPECT_EQ(Text(lengthBox), "42") << "blanks only leave the length box as it was";
        Box(hexBox)->clear();
        EXPECT_EQ(Text(lengthBox), "42");
        // Setting the same text again raises no change event.
        Type(hexBox, "ABCD");
        Type(lengthBox, "42");
        SetEditText(Box(hexBox), "ABCD");
        EXPECT_EQ(Text(lengthBox), "42");
    }
}

struct TBadBoxCase {
    const char* Box;
    const char* Text;
    int AssignedBefore; // properties assigned before the bad box, in copy order
};

void PrintTo(const TBadBoxCase& row, std::ostream* out) {
    *out << row.Box << " = '" << row.Text << "'";
}

class NonIntegerBoxTest : public MainWindowTest, public ::testing::WithParamInterface<TBadBoxCase> {};

TEST_P(NonIntegerBoxTest, StopsTheExportAtThatBox) {
    const TBadBoxCase& row = GetParam();
    ImportRecord("first.key", kFirst.WithHash());
    boxes.Shown.clear();
    dialogs.Asked.clear();
    // New values for every box, with blank hex boxes so the typed lengths stay.
    const std::vector<std::pair<const char*, const char*>> typed = {
        {"Edit1", "5555555555"}, {"Edit2", "7"}, {"Edit3", "0101"}, {"Edit4", "3"}, {"Edit5", "4"},
        {"Edit8", ""},           {"Edit9", ""},  {"Edit6", "6"},    {"Edit7", "8"}};
    for (const auto& [name, text] : typed)
        Type(name, text);
    Type(row.Box, row.Text);
    Click("Button2");

    EXPECT_EQ(boxes.Shown, std::vector<TShown>{
                               Error("'" + std::string(row.Text) + "' ist kein g\xFCltiger Integerwert.")});
    EXPECT_TRUE(dialogs.Asked.empty()) << "no file dialog";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1) << "nothing written";
    const TZarnPublicKey& key = *form->ZarnPublicKey1();
    std::vector<std::string> now = RecordState(key);
    now.pop_back(); // the hash result is not copied from a box
    const std::vector<std::string> newValues = {"5555555555", "7", "0101", "3", "4", "6", "8", "", ""};
    const std::vector<std::string> oldValues = {"123456789", "5", "1212", "1", "1", "2", "1", "ABCD", "03"};
    for (std::size_t i = 0; i < now.size(); ++i)
        EXPECT_EQ(now[i], static_cast<int>(i) < row.AssignedBefore ? newValues[i] : oldValues[i])
            << "property " << i;
}

INSTANTIATE_TEST_SUITE_P(Boxes, NonIntegerBoxTest,
                         ::testing::Values(TBadBoxCase{"Edit2", "", 1}, TBadBoxCase{"Edit4", "1x", 3},
                                           TBadBoxCase{"Edit5", "1 ", 4}, TBadBoxCase{"Edit6", "zwei", 5},
                                           TBadBoxCase{"Edit7", "0x", 6}),
                         [](const ::testing::TestParamInfo<TBadBoxCase>& info) {
                             return std::string(info.param.Box);
                         });

TEST_F(MainWindowTest, ErrorInAHandlerReachesTheErrorBoxAndTheWindowGoesOn) {
    ImportRecord("first.key", kFirst.WithHash());
    const std::string importedHash = Text("Edit10");
    boxes.Shown.clear();
    Type("Edit1", "1111111111");

    // The save dialog names a file in a folder that does not exist: writing it raises.
    const std::string unwritable = folder.File("missing") + "/out.key";
    std::string reason;
    try {
        WriteTextFileLine(unwritable, "00");
    } catch (const EInOutError& error) {
        reason = error.Message();
    }
    ASSERT_FALSE(reason.empty());
    dialogs.Choose(unwritable);
    Click("Button2");

    const bool fullStop = static_cast<unsigned char>(reason.back()) > '.';
    EXPECT_EQ(boxes.Shown, std::vector<TShown>{Error(fullStop ? reason + "." : reason)}) << "no message box";
    EXPECT_EQ(Text("Edit10"), importedHash) << "the handler ended before refreshing Edit10";

    // The window is still usable.
    dialogs.Choose(folder.File("out.key"));
    Click("Button2");
    EXPECT_EQ(boxes.Shown.back(), Message("Export successfully completed!"));
    EXPECT_EQ(Text("Edit10"), form->ZarnPublicKey1()->GetHashResult());
    EXPECT_NE(Text("Edit10"), importedHash);
}

TEST_F(MainWindowTest, LayoutMatchesTheTable) {
    struct TControl {
        const char* Name;
        int Left, Top, Width, Height;
        const char* Text;
    };
    const TControl controls[] = {
        {"Edit1", 176, 104, 281, 21, ""},
        {"Edit2", 176, 131, 281, 21, ""},
        {"Edit3", 176, 158, 281, 21, ""},
        {"Edit4", 176, 184, 281, 21, ""},
        {"Edit5", 176, 211, 281, 21, ""},
        {"Edit6", 176, 239, 281, 21, ""},
        {"Edit7", 176, 266, 281, 21, ""},
        {"Edit8", 176, 293, 537, 21, ""},
        {"Edit9", 176, 319, 281, 21, ""},
        {"Edit10", 176, 346, 537, 21, ""},
        {"Edit11", 176, 374, 537, 21, ""},
        {"Button1", 32, 415, 111, 34, "Import..."},
        {"Button2", 179, 415, 111, 34, "Export..."},
        {"Button3", 327, 415, 111, 34, "Generate RSA Keys..."},
        {"Button4", 475, 416, 111, 33, "Exit"},
        {"Label11", 32, 32, 607, 37, "Morvel Zarn Public Key Importer/Exporter"},
        {"Image2", 704, 5, 131, 98, nullptr},
        {"Memo1", 705, 99, 137, 118, nullptr},
    };
    for (const TControl& control : controls) {
        QWidget* widget = form->findChild<QWidget*>(control.Name);
        ASSERT_NE(widget, nullptr) << control.Name;
        EXPECT_EQ(widget->geometry(), QRect(control.Left, control.Top, control.Width, control.Height))
            << control.Name;
        if (control.Text != nullptr) {
            EXPECT_EQ(widget->property("text").toString(), control.Text) << control.Name;
        }
    }
    EXPECT_TRUE(qobject_cast<QLineEdit*>(form->findChild<QWidget*>("Edit11")) != nullptr);

    // Each label stands left of its box, whole and clear of it.
    struct TLabel {
        const char* Name;
        int Top;
        const char* Text;
        const char* Edit;
    };
    const TLabel labels[] = {
        {"Label1", 104, "Public Key Owner Identifier", "Edit1"},
        {"Label2", 132, "Public Key Index", "Edit2"},
        {"Label3", 159, "Public Key Expiration Date", "Edit3"},
        {"Label4", 187, "Hash Algorithm Indicator", "Edit4"},
        {"Label5", 215, "Public Key Algorithm Indicator", "Edit5"},
        {"Label6", 243, "Public Key Modulus Length", "Edit6"},
        {"Label7", 271, "Public Key Exponent Length", "Edit7"},
        {"Label8", 298, "Public Key Modulus", "Edit8"},
        {"Label9", 326, "Public Key Exponent", "Edit9"},
        {"Label10", 353, "Hash Result", "Edit10"},
        {"Label12", 382, "Expected Hash Result", "Edit11"},
    };
    for (const TLabel& label : labels) {
        QWidget* widget = form->findChild<QWidget*>(label.Name);
        ASSERT_NE(widget, nullptr) << label.Name;
        EXPECT_EQ(widget->pos(), QPoint(32, label.Top)) << label.Name;
        EXPECT_EQ(widget->property("text").toString(), label.Text);
        EXPECT_GE(widget->width(), widget->sizeHint().width()) << label.Name << " is cut";
        EXPECT_LE(widget->geometry().right(), Box(label.Edit)->x() - 1) << label.Name << " overlaps its box";
    }

    // The title is bold, 32 pixels high where the font allows, and fits its label.
    QWidget* title = form->findChild<QWidget*>("Label11");
    EXPECT_TRUE(title->font().bold());
    EXPECT_GE(title->font().pixelSize(), 24);
    EXPECT_LE(title->fontMetrics().horizontalAdvance(title->property("text").toString()), title->width());
}

TEST_F(MainWindowTest, WindowAndComponentStartAsSpecified) {
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->windowTitle(), "Morvel Zarn Public Key Importer Version 2.3");
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(form->normalGeometry().size(), QSize(932, 640));
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_EQ(form->backgroundRole(), QPalette::Button);
    EXPECT_TRUE(form->autoFillBackground());
    EXPECT_TRUE(form->windowIcon().availableSizes().contains(QSize(32, 32)));

    QPushButton* generate = Button("Button3");
    EXPECT_FALSE(generate->isVisible());
    EXPECT_FALSE(generate->isEnabled());

    auto* memo = form->findChild<QPlainTextEdit*>("Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->document()->blockCount(), 9);
    EXPECT_FALSE(memo->isReadOnly());
    EXPECT_EQ(memo->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(memo->palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(memo->palette().color(QPalette::Text), QColor(Qt::blue));
    if (LoadApplicationFonts()) {
        EXPECT_EQ(memo->font().pixelSize(), 12);
    } else {
        EXPECT_LE(memo->font().pixelSize(), 12) << "a substitute font may be made smaller to fit";
    }
    // All nine lines fit the panel.
    QTextCursor first(memo->document()->firstBlock());
    QTextCursor last(memo->document()->lastBlock());
    EXPECT_GE(memo->cursorRect(first).top(), 0);
    EXPECT_LE(memo->cursorRect(last).bottom(), memo->viewport()->height() - 1);

    auto* image = form->findChild<QLabel*>("Image2");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixmap().size(), QSize(80, 64));
    EXPECT_EQ(image->alignment() & (Qt::AlignLeft | Qt::AlignTop), Qt::AlignLeft | Qt::AlignTop);

    const auto components = form->findChildren<TZarnPublicKey*>();
    ASSERT_EQ(components.size(), 1);
    const TZarnPublicKey* key = components[0];
    EXPECT_EQ(key->objectName(), "ZarnPublicKey1");
    EXPECT_TRUE(key->GetShowFileDialog());
    EXPECT_EQ(key->GetPublicKeyIndex() | key->GetHashAlgorithmIndicator() |
                  key->GetPublicKeyAlgorithmIndicator() | key->GetPublicKeyModulusLength() |
                  key->GetPublicKeyExponentLength(),
              0);
    EXPECT_EQ(AllBoxes(), std::vector<std::string>(11, ""));

    // The boxes have no length limit.
    const std::string longText(100000, 'A');
    SetEditText(Box("Edit8"), longText);
    EXPECT_EQ(Text("Edit8"), longText);
    EXPECT_EQ(Text("Edit6"), "50000");
}

TEST_F(MainWindowTest, TabMovesThroughTheControlsInOrder) {
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Button("Button1")->setFocus();
    // Button3 is hidden and disabled, so Tab passes over it.
    const std::vector<std::string> expected = {"Edit1", "Edit2",  "Edit3",   "Edit4",   "Edit5",
                                               "Edit6", "Edit7",  "Edit8",   "Edit9",   "Edit10",
                                               "Memo1", "Edit11", "Button2", "Button4", "Button1"};
    EXPECT_EQ(TabWalk(expected.size()), expected);

    // The stored order has Button3 between Button2 and Button4.
    const std::vector<std::string> chain = FocusChain(Button("Button1"));
    const std::vector<std::string> stored = {"Button1", "Edit1",   "Edit2",   "Edit3",  "Edit4",  "Edit5",
                                             "Edit6",   "Edit7",   "Edit8",   "Edit9",  "Edit10", "Memo1",
                                             "Edit11",  "Button2", "Button3", "Button4"};
    EXPECT_EQ(chain, stored);
}

TEST_F(MainWindowTest, ExitAndTheTitleBarEndTheMessageLoop) {
    for (const bool byTitleBar : {false, true}) {
        SCOPED_TRACE(byTitleBar ? "title bar" : "Exit");
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        bool timedOut = false;
        QTimer::singleShot(0, form.get(), [&] {
            if (byTitleBar) {
                QCloseEvent close;
                QApplication::sendEvent(form->windowHandle(), &close);
            } else {
                Click("Button4");
            }
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            QApplication::exit(1);
        });
        watchdog.start(20000);
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_FALSE(timedOut);
        EXPECT_FALSE(form->isVisible());
        EXPECT_TRUE(boxes.Shown.empty()) << "no confirmation";
    }
}

TEST_F(MainWindowTest, ReturnOnAFocusedButtonPressesItAndInABoxNothing) {
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Box("Edit1")->setFocus();
    QTest::keyClick(Box("Edit1"), Qt::Key_Return);
    EXPECT_TRUE(dialogs.Asked.empty()) << "a box is not a button";
    EXPECT_TRUE(boxes.Shown.empty());

    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Return, Qt::NoModifier},
                                                              {Qt::Key_Enter, Qt::KeypadModifier},
                                                              {Qt::Key_Space, Qt::NoModifier}};
    for (const auto& [key, modifiers] : keys) {
        SCOPED_TRACE(key);
        dialogs.Asked.clear();
        boxes.Shown.clear();
        Button("Button1")->setFocus();
        QTest::keyClick(Button("Button1"), key, modifiers);
        ASSERT_EQ(dialogs.Asked.size(), 1u) << "Import... was not pressed";
        EXPECT_EQ(dialogs.Asked[0].Kind, TScriptedFileDialogs::fdOpen);
        EXPECT_EQ(boxes.Shown, (std::vector<TRecordedMessageBoxes::TShown>{
                                   {TRecordedMessageBoxes::mbMessage, "Import aborted during file dialog"}}));
    }
    // A held key presses once.
    dialogs.Asked.clear();
    QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(Button("Button1"), &repeated);
    EXPECT_TRUE(dialogs.Asked.empty());
}

} // namespace
} // namespace test
} // namespace zarn
