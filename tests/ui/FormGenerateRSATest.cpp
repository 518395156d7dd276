#include "tests/ui/UiTestSupport.h"

#include "crypto/RsaKeyGeneration.h"
#include "platform/Errors.h"
#include "ui/FormGenerateRSA.h"
#include "ui/ZarnApplication.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QWindow>

#include <openssl/bn.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>

namespace zarn {
namespace test {
namespace {

using TShown = TRecordedMessageBoxes::TShown;

const std::string kStopText = "running, please wait (stop pressed)";
const std::string kMaxRunsText = "Max. runs reached, no valid key pair generated";

// Candidate digits and bytes from a seeded generator, so that a generation is reproducible. Counts
// the values drawn and can run a hook at every draw, which happens inside the generation.
class TSeededSource : public TCandidateSource {
public:
    explicit TSeededSource(std::uint64_t salt) : m_generator(SeededGenerator(salt)) {}

    std::uint32_t Below(std::uint32_t n) override {
        ++Calls;
        if (OnCall)
            OnCall();
        return static_cast<std::uint32_t>(
            std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_generator));
    }

    int Calls = 0;
    std::function<void()> OnCall;

private:
    std::mt19937_64 m_generator;
};

// The hex text of a number as OpenSSL writes it, and base^exponent mod modulus in the same form.
std::string BnHex(const BIGNUM* n) {
    char* text = BN_bn2hex(n);
    std::string result = text;
    OPENSSL_free(text);
    return result;
}

std::string Normalised(const std::string& hex) {
    BIGNUM* n = nullptr;
    EXPECT_NE(BN_hex2bn(&n, hex.c_str()), 0) << hex;
    std::string result = BnHex(n);
    BN_free(n);
    return result;
}

std::string ModPowHex(const std::string& base, const std::string& exponent, const std::string& modulus) {
    BIGNUM *b = nullptr, *e = nullptr, *m = nullptr;
    BIGNUM* r = BN_new();
    BN_CTX* context = BN_CTX_new();
    EXPECT_NE(BN_hex2bn(&b, base.c_str()), 0);
    EXPECT_NE(BN_hex2bn(&e, exponent.c_str()), 0);
    EXPECT_NE(BN_hex2bn(&m, modulus.c_str()), 0);
    EXPECT_EQ(BN_mod_exp(r, b, e, m, context), 1);
    std::string result = BnHex(r);
    BN_CTX_free(context);
    for (BIGNUM* n : {b, e, m, r})
        BN_free(n);
    return result;
}

bool IsUpperHex(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// The real main window and key generation window; the message boxes are recorded and the candidates
// come from a seeded source. The key generation window is shown without a modal loop unless a test
// opens it through the main window.
class KeyGenWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxes(&boxes);
        main = std::make_unique<TForm1>();
        form = new TForm2(main.get());
        form->SetCandidateSource(&source);
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    }
    void TearDown() override {
        main.reset();
        SetMessageBoxes(nullptr);
    }

    void ShowForm() {
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    template <typename T = QWidget>
    T* Control(const char* name) const {
        T* control = form->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    std::string Text(const char* name) const {
        if (auto* label = qobject_cast<QLabel*>(Control(name)))
            return label->text().toStdString();
        return EditText(Control<QLineEdit>(name));
    }
    void TypeLength(const QString& text) {
        form->Edit4()->clear();
        QTest::keyClicks(form->Edit4(), text);
        ASSERT_EQ(form->Edit4()->text(), text);
    }
    void Generate(const QString& length) {
        TypeLength(length);
        QTest::mouseClick(form->Button2(), Qt::LeftButton);
    }
    // Generates until a generation ends with a valid key pair: the first one does unless all of its
    // 50 runs miss the length, which for 16 bytes happens about once in three thousand.
    void GenerateValid(const QString& length) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            changes.clear();
            Generate(length);
            if (Text("Edit8") != kMaxRunsText)
                return;
        }
        FAIL() << "no valid key pair in three generations; " << SeedTrace();
    }
    // Every text that Edit8, Edit9, Edit2 and Edit3 take from now on, as "EditN=text".
    void RecordBoxChanges() {
        for (const char* name : {"Edit8", "Edit9", "Edit2", "Edit3"})
            QObject::connect(Control<QLineEdit>(name), &QLineEdit::textChanged, form,
                             [this, name](const QString& text) {
                                 changes.push_back(std::string(name) + "=" + text.toStdString());
                             });
    }

    TRecordedMessageBoxes boxes;
    TSeededSource source{7};
    std::unique_ptr<TForm1> main;
    TForm2* form = nullptr; // a dialog of the main window, deleted with it
    std::vector<std::string> changes;
};

TEST_F(KeyGenWindowTest, WindowAndControlsAsSpecified) {
    EXPECT_EQ(form->objectName(), "Form2");
    EXPECT_EQ(form->windowTitle(), "RSA Key Generation");
    EXPECT_FALSE(form->isVisible()) << "created hidden";
    EXPECT_EQ(main->Form2(), form);
    EXPECT_EQ(form->size(), QSize(743, 532));
    EXPECT_EQ(form->font().family(), "MS Sans Serif");
    EXPECT_EQ(form->font().pixelSize(), 10);
    EXPECT_EQ(form->backgroundRole(), QPalette::Button);
    EXPECT_EQ(form->GetKeyLength(), 0);

    struct TControl {
        const char* Name;
        const char* Kind;
        int Left, Top, Width, Height;
        const char* Text;
    };
    // In their declaration order.
    const TControl controls[] = {
        {"Memo1", "QPlainTextEdit", 33, 26, 663, 72, nullptr},
        {"Label2", "QLabel", 33, 137, 3, 13, ""},
        {"Label8", "QLabel", 33, 259, 93, 13, "Public Key Modulus"},
        {"Label9", "QLabel", 33, 288, 98, 13, "Public Key Exponent"},
        {"Edit8", "QLineEdit", 156, 260, 537, 21, ""},
        {"Edit9", "QLineEdit", 156, 288, 137, 21, ""},
        {"Label1", "QLabel", 33, 316, 97, 13, "Private Key Modulus"},
        {"Label3", "QLabel", 33, 345, 102, 13, "Private Key Exponent"},
        {"Edit2", "QLineEdit", 156, 317, 537, 21, ""},
        {"Edit3", "QLineEdit", 156, 345, 540, 21, ""},
        {"Button2", "QPushButton", 33, 208, 111, 27, "Generate Key Pair"},
        {"Button3", "QPushButton", 33, 455, 117, 27, "Close "},
        {"Label4", "QLabel", 156, 462, 181, 13, "Use copy paste function to store keys."},
        {"Edit4", "QLineEdit", 156, 169, 33, 21, "128"},
        {"Label5", "QLabel", 33, 176, 88, 13, "Key Length (bytes)"},
        {"Label6", "QLabel", 156, 377, 6, 13, "0"},
        {"Label7", "QLabel", 33, 377, 80, 13, "Resulting Length"},
        {"Button1", "QPushButton", 33, 408, 117, 26, "Transfer to Export"},
        {"Label10", "QLabel", 156, 215, 44, 13, "Start time"},
        {"Label11", "QLabel", 481, 215, 41, 13, "End time"},
        {"Label12", "QLabel", 480, 232, 25, 13, "Runs"},
        {"Button4", "QPushButton", 608, 400, 89, 25, "Stop"},
    };
    std::vector<std::string> declared;
    for (QObject* child : form->children())
        if (child->isWidgetType())
            declared.push_back(child->objectName().toStdString());
    std::vector<std::string> expected;
    for (const TControl& control : controls)
        expected.push_back(control.Name);
    EXPECT_EQ(declared, expected);

    for (const TControl& control : controls) {
        SCOPED_TRACE(control.Name);
        QWidget* widget = Control(control.Name);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), control.Kind);
        if (control.Text != nullptr) {
            EXPECT_EQ(widget->property("text").toString(), control.Text);
        }
        if (qobject_cast<QLabel*>(widget) != nullptr) {
            // Labels take the width of their text, so only their place is fixed.
            EXPECT_EQ(widget->pos(), QPoint(control.Left, control.Top));
            EXPECT_GE(widget->width(), widget->sizeHint().width()) << "cut";
        } else {
            EXPECT_EQ(widget->geometry(), QRect(control.Left, control.Top, control.Width, control.Height));
        }
    }

    auto* memo = Control<QPlainTextEdit>("Memo1");
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_FALSE(memo->isEnabled());
    EXPECT_EQ(memo->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(memo->palette().color(QPalette::Disabled, QPalette::Base),
              form->palette().color(QPalette::Active, QPalette::Button));
    const QStringList lines = memo->toPlainText().split('\n');
    EXPECT_EQ(
        lines,
        (QStringList{"DISCLAIMER", "This RSA key generator was programmed to our best knowledge and care.",
                     "However, use it at your own risk. Neither Morvel AG nor the author may be held",
                     "responsible for any damage, which may result from any malfunction of this ",
                     "software."}));
    // The five lines stand whole in the panel, without scrolling.
    ShowForm();
    EXPECT_LE(memo->cursorRect(QTextCursor(memo->document()->lastBlock())).bottom(),
              memo->viewport()->height() - 1);
    for (QTextBlock block = memo->document()->firstBlock(); block.isValid(); block = block.next()) {
        EXPECT_LE(memo->fontMetrics().horizontalAdvance(block.text()), memo->viewport()->width())
            << block.text().toStdString();
    }

    // Centred on the desktop: the window's frame is known once it has been shown, so the first showing
    // may be off by the frame's margins, and the next ones are centred exactly.
    const QRect desktop = QGuiApplication::primaryScreen()->geometry();
    const auto offCentre = [&] {
        const QRect frame = form->frameGeometry();
        return QPoint((frame.left() - desktop.left()) - (desktop.right() - frame.right()),
                      (frame.top() - desktop.top()) - (desktop.bottom() - frame.bottom()));
    };
    const QMargins margins = form->windowHandle()->frameMargins();
    EXPECT_LE(std::abs(offCentre().x()), margins.left() + margins.right() + 1);
    EXPECT_LE(std::abs(offCentre().y()), margins.top() + margins.bottom() + 1);
    form->move(0, 0);
    form->hide();
    ShowForm();
    EXPECT_LE(std::abs(offCentre().x()), 1);
    EXPECT_LE(std::abs(offCentre().y()), 1);
}

TEST_F(KeyGenWindowTest, TabMovesThroughTheControlsInOrder) {
    ShowForm();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    // The disclaimer is disabled, so Tab passes over it.
    form->Edit8()->setFocus();
    const std::vector<std::string> expected = {"Edit9", "Edit2",   "Edit3",   "Button2", "Button3",
                                               "Edit4", "Button1", "Button4", "Edit8"};
    EXPECT_EQ(TabWalk(expected.size()), expected);

    const std::vector<std::string> chain = FocusChain(Control("Memo1"));
    EXPECT_EQ(chain, (std::vector<std::string>{"Memo1", "Edit8", "Edit9", "Edit2", "Edit3", "Button2",
                                               "Button3", "Edit4", "Button1", "Button4"}));
}

// A length text that does not give a length of at least 1: no generation, the messages in turn, the
// result boxes emptied and the labels as the first steps of Generate left them.
struct TRejectedLength {
    const char* Text;
    bool Numeric;
};

void PrintTo(const TRejectedLength& row, std::ostream* out) {
    *out << '"' << row.Text << '"';
}

class RejectedLengthTest : public KeyGenWindowTest, public ::testing::WithParamInterface<TRejectedLength> {};

TEST_P(RejectedLengthTest, ShowsTheMessagesAndGeneratesNothing) {
    ShowForm();
    form->ShowRunResult("010001", "C1C3", "0F");
    form->SetRunsText("Runs: 4");
    SetEditText(form->Edit8(), "old status");
    Generate(GetParam().Text);

    std::vector<TShown> expected;
    if (!GetParam().Numeric)
        expected.push_back({TRecordedMessageBoxes::mbMessage, "Enter a numeric length value"});
    expected.push_back({TRecordedMessageBoxes::mbMessage, "Enter a random string first"});
    EXPECT_EQ(boxes.Shown, expected);
    EXPECT_EQ(source.Calls, 0) << "no generation";
    EXPECT_EQ(form->GetKeyLength(), GetParam().Numeric ? std::stoi(GetParam().Text) : 0);
    EXPECT_EQ(Text("Edit9"), "");
    EXPECT_EQ(Text("Edit2"), "");
    EXPECT_EQ(Text("Edit3"), "");
    EXPECT_EQ(Text("Edit8"), "old status") << "the status line keeps its text";
    EXPECT_EQ(Text("Label6"), "0");
    EXPECT_TRUE(QRegularExpression("^Start time: \\d\\d:\\d\\d:\\d\\d$")
                    .match(QString::fromStdString(Text("Label10")))
                    .hasMatch())
        << Text("Label10");
    EXPECT_EQ(Text("Label11"), "This may take several minutes");
    EXPECT_EQ(Text("Label12"), "Runs: 4");
    EXPECT_TRUE(form->Button2()->isEnabled());
    EXPECT_FALSE(form->IsGenerating());
}

INSTANTIATE_TEST_SUITE_P(Texts, RejectedLengthTest,
                         ::testing::Values(TRejectedLength{"abc", false}, TRejectedLength{"", false},
                                           TRejectedLength{"12 ", false},
                                           TRejectedLength{"99999999999", false}, TRejectedLength{"$", false},
                                           TRejectedLength{"0", true}, TRejectedLength{"-5", true}),
                         [](const ::testing::TestParamInfo<TRejectedLength>& info) {
                             return "Case" + std::to_string(info.index);
                         });

TEST_F(KeyGenWindowTest, HexadecimalLengthIsAcceptedAndAnErrorInTheGenerationReachesTheErrorBox) {
    ShowForm();
    // The generation starts, and its random source fails at once.
    class TFailingSource : public TCandidateSource {
    public:
        std::uint32_t Below(std::uint32_t) override { throw Exception("random source failed"); }
    } failing;
    form->SetCandidateSource(&failing);
    Generate("$80");

    EXPECT_EQ(form->GetKeyLength(), 128);
    EXPECT_EQ(boxes.Shown, (std::vector<TShown>{{TRecordedMessageBoxes::mbError, "random source failed."}}));
    EXPECT_EQ(Text("Edit8"), "running, please wait ") << "the boxes keep what the last step wrote";
    EXPECT_EQ(Text("Label12"), "Runs: 1");
    EXPECT_EQ(Text("Label11"), "This may take several minutes");
    EXPECT_FALSE(form->IsGenerating());
    for (QPushButton* button : {form->Button1(), form->Button2(), form->Button3(), form->Button4()})
        EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();

    // The window goes on: a leading blank and a "0x" prefix are read too.
    boxes.Shown.clear();
    form->SetCandidateSource(&source);
    Generate(" 0x10");
    EXPECT_EQ(form->GetKeyLength(), 16);
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_TRUE(Text("Label11").starts_with("End time: "));
}

TEST_F(KeyGenWindowTest, StopWhileIdleSetsTheStatusAndTransferCopiesIt) {
    ShowForm();
    SetEditText(main->Edit6(), "99");
    SetEditText(main->Edit7(), "98");
    QTest::mouseClick(form->Button4(), Qt::LeftButton);
    EXPECT_EQ(Text("Edit8"), kStopText);
    EXPECT_TRUE(form->IsStopRequested());

    QTest::mouseClick(form->Button1(), Qt::LeftButton);
    EXPECT_EQ(EditText(main->Edit8()), kStopText);
    EXPECT_EQ(EditText(main->Edit9()), "");
    EXPECT_EQ(EditText(main->Edit6()), "17");
    EXPECT_EQ(EditText(main->Edit7()), "0") << "the empty exponent counts 0 bytes";
    EXPECT_EQ(EditText(main->Edit4()), "1");
    EXPECT_EQ(EditText(main->Edit5()), "1");
    EXPECT_TRUE(form->isVisible()) << "the window stays open";

    // The next Generate clears the flag: its generation is not stopped.
    Generate("3");
    EXPECT_FALSE(form->IsStopRequested());
    EXPECT_NE(Text("Edit8"), "Stopped by user");
}

TEST_F(KeyGenWindowTest, SmallGenerationFillsTheBoxesConsistently) {
    ShowForm();
    RecordBoxChanges();
    // What the window shows when the generation asks for its first candidate digit: the status line
    // and the runs line are set and painted before any pending event has run.
    std::vector<std::string> painted;
    struct TPaintRecorder : QObject {
        std::vector<std::string>* Painted;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                Painted->push_back(static_cast<QLineEdit*>(watched)->text().toStdString());
            return false;
        }
    } recorder;
    recorder.Painted = &painted;
    form->Edit8()->installEventFilter(&recorder);
    std::vector<std::string> paintedAtStart;
    std::string runsAtStart;
    source.OnCall = [&] {
        if (source.Calls == 1) {
            paintedAtStart = painted;
            runsAtStart = Text("Label12");
        }
    };
    GenerateValid("16");
    form->Edit8()->removeEventFilter(&recorder);

    ASSERT_FALSE(paintedAtStart.empty());
    EXPECT_EQ(paintedAtStart.back(), "running, please wait ");
    EXPECT_EQ(runsAtStart, "Runs: 1");
    EXPECT_TRUE(boxes.Shown.empty());

    const std::string n = Text("Edit8"), e = Text("Edit9"), d = Text("Edit3");
    ASSERT_TRUE(IsUpperHex(n)) << n;
    EXPECT_EQ(Text("Edit2"), n);
    EXPECT_TRUE(IsUpperHex(e) && IsUpperHex(d)) << e << " " << d;
    EXPECT_EQ(n.size() % 2, 0u);
    EXPECT_EQ(Text("Label6"), "16");
    EXPECT_GE(n[0], '8');
    EXPECT_EQ(e, "010001");
    // The three texts are one key pair: decryption undoes encryption.
    for (const std::string& message : std::vector<std::string>{"2", "1234567890ABCDEF", n.substr(1)})
        EXPECT_EQ(ModPowHex(ModPowHex(message, e, n), d, n), Normalised(message));

    // Every run ends by showing its values, the exponent (which changes only when it differs from the
    // run before) first, then the modulus, the private exponent and the modulus again.
    int shown = 0;
    for (auto at = changes.begin(); at != changes.end(); ++at) {
        if (*at != "Edit8=secret key computed")
            continue;
        ++shown;
        auto next = at + 1;
        if (next != changes.end() && next->starts_with("Edit9="))
            ++next;
        ASSERT_GE(changes.end() - next, 3);
        ASSERT_TRUE(next[0].starts_with("Edit8=")) << next[0];
        const std::string modulus = next[0].substr(6);
        EXPECT_TRUE(IsUpperHex(modulus)) << modulus;
        EXPECT_TRUE(next[1].starts_with("Edit3=")) << next[1];
        EXPECT_EQ(next[2], "Edit2=" + modulus);
    }
    EXPECT_NE(std::find(changes.begin(), changes.end(), "Edit9=" + e), changes.end());
    // The last run's status texts in their order.
    const std::string started = "Edit8=running, please wait ";
    ASSERT_NE(std::find(changes.begin(), changes.end(), started), changes.end());
    std::vector<std::string> lastRun(std::find(changes.rbegin(), changes.rend(), started).base() - 1,
                                     changes.end());
    std::erase_if(lastRun, [](const std::string& change) { return change.starts_with("Edit9="); });
    EXPECT_EQ(lastRun, (std::vector<std::string>{started, "Edit8=prime p found", "Edit8=prime q found",
                                                 "Edit8=modulus computed", "Edit8=secret key computed",
                                                 "Edit8=" + n, "Edit3=" + d, "Edit2=" + n}));

    const std::string runs = Text("Label12");
    ASSERT_TRUE(runs.starts_with("Runs: ")) << runs;
    const int runCount = std::stoi(runs.substr(6));
    EXPECT_GE(runCount, 1);
    EXPECT_EQ(std::count(changes.begin(), changes.end(), started), runCount);
    EXPECT_EQ(shown, runCount);
    EXPECT_TRUE(QRegularExpression("^End time: \\d\\d:\\d\\d:\\d\\d$")
                    .match(QString::fromStdString(Text("Label11")))
                    .hasMatch())
        << Text("Label11");
    for (QLabel* label : form->findChildren<QLabel*>())
        EXPECT_GE(label->width(), label->sizeHint().width())
            << label->objectName().toStdString() << " is cut";
}

TEST_F(KeyGenWindowTest, StopDuringAGenerationLetsTheRunFinish) {
    ShowForm();
    RecordBoxChanges();
    // Pressed from the first pending-event pump, inside the first prime search.
    QTimer::singleShot(0, form, [&] {
        ASSERT_TRUE(form->IsGenerating());
        QTest::mouseClick(form->Button4(), Qt::LeftButton);
    });
    Generate("16");

    EXPECT_EQ(Text("Edit8"), "Stopped by user");
    EXPECT_EQ(Text("Label12"), "Runs: 1");
    const auto stop = std::find(changes.begin(), changes.end(), "Edit8=" + kStopText);
    ASSERT_NE(stop, changes.end()) << "Stop was served during the generation";
    // The run went on to its end after the stop: the rest of its status texts and its values.
    const std::vector<std::string> after(stop + 1, changes.end());
    EXPECT_NE(std::find(after.begin(), after.end(), "Edit8=secret key computed"), after.end());
    const std::string n = Text("Edit2");
    EXPECT_TRUE(IsUpperHex(n));
    EXPECT_EQ(after.back(), "Edit8=Stopped by user");
    EXPECT_EQ(after[after.size() - 2], "Edit2=" + n);
    EXPECT_EQ(Text("Label6"), std::to_string(n.size() / 2));
    EXPECT_EQ(Text("Edit9").empty(), false);
    EXPECT_EQ(Text("Edit3").empty(), false);
}

TEST_F(KeyGenWindowTest, FiftyInvalidRunsEndWithTheMaxRunsText) {
    ShowForm();
    // Three bytes are never reached: the primes aim at 8 and 0 bits.
    Generate("3");
    EXPECT_EQ(Text("Edit8"), kMaxRunsText);
    EXPECT_EQ(Text("Label12"), "Runs: 50");
    EXPECT_TRUE(IsUpperHex(Text("Edit2")));
    EXPECT_NE(Text("Label6"), "3");
    EXPECT_EQ(Text("Label6"), std::to_string(Text("Edit2").size() / 2));
}

TEST_F(KeyGenWindowTest, TransferAfterASuccessFillsTheExportBoxes) {
    ShowForm();
    for (const char* box : {"Edit1", "Edit2", "Edit3", "Edit10", "Edit11"})
        SetEditText(main->findChild<QLineEdit*>(box), std::string("kept ") + box);
    GenerateValid("16");
    ASSERT_EQ(Text("Label6"), "16");
    const std::string n = Text("Edit8");

    // The main window's own change handlers run on the way. They are connected before the recorder,
    // so the length that a modulus or exponent change sets is recorded before that change.
    std::vector<std::string> mainChanges;
    for (QLineEdit* box : main->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
        QObject::connect(box, &QLineEdit::textChanged, form, [&mainChanges, box](const QString& text) {
            mainChanges.push_back(box->objectName().toStdString() + "=" + text.toStdString());
        });
    QTest::mouseClick(form->Button1(), Qt::LeftButton);

    EXPECT_EQ(mainChanges, (std::vector<std::string>{"Edit6=16", "Edit8=" + n, "Edit7=3", "Edit9=010001",
                                                     "Edit4=1", "Edit5=1"}));
    EXPECT_EQ(EditText(main->Edit1()), "kept Edit1");
    EXPECT_EQ(EditText(main->Edit2()), "kept Edit2") << "the private key is not transferred";
    EXPECT_EQ(EditText(main->Edit3()), "kept Edit3");
    EXPECT_EQ(EditText(main->Edit10()), "kept Edit10");
    EXPECT_EQ(EditText(main->Edit11()), "kept Edit11");

    // Lengths are the untrimmed text lengths, set after the change handlers' trimmed ones.
    mainChanges.clear();
    SetEditText(form->Edit8(), "  ABCD  ");
    SetEditText(form->Edit9(), " 03");
    QTest::mouseClick(form->Button1(), Qt::LeftButton);
    EXPECT_EQ(mainChanges,
              (std::vector<std::string>{"Edit6=2", "Edit8=  ABCD  ", "Edit7=1", "Edit9= 03", "Edit6=4"}));
}

TEST_F(KeyGenWindowTest, ButtonsAreDisabledAndClosingIsRefusedDuringAGeneration) {
    ShowForm();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    TypeLength("16");
    form->Button2()->setFocus();
    bool checked = false;
    QTimer::singleShot(0, form, [&] {
        checked = true;
        EXPECT_TRUE(form->IsGenerating());
        EXPECT_FALSE(form->Button2()->isEnabled());
        EXPECT_FALSE(form->Button1()->isEnabled());
        EXPECT_FALSE(form->Button3()->isEnabled());
        EXPECT_TRUE(form->Button4()->isEnabled());
        // Clicks on the disabled buttons, the title bar's close and the Esc key change nothing.
        const std::string status = Text("Edit8"), start = Text("Label10"),
                          mainModulus = EditText(main->Edit8());
        const int calls = source.Calls;
        QTest::mouseClick(form->Button2(), Qt::LeftButton);
        QTest::mouseClick(form->Button1(), Qt::LeftButton);
        QTest::mouseClick(form->Button3(), Qt::LeftButton);
        QCloseEvent close;
        QApplication::sendEvent(form->windowHandle(), &close);
        QTest::keyClick(form, Qt::Key_Escape);
        form->reject();
        // Nor does a Generate that reaches the handler: no generation starts inside another.
        form->Button2Click(form->Button2());
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(Text("Edit8"), status);
        EXPECT_EQ(Text("Label10"), start);
        EXPECT_EQ(EditText(main->Edit8()), mainModulus);
        EXPECT_EQ(source.Calls, calls);
    });
    form->Button2()->click();

    EXPECT_TRUE(checked);
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->IsGenerating());
    for (QPushButton* button : {form->Button1(), form->Button2(), form->Button3(), form->Button4()})
        EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_EQ(form->focusWidget(), form->Button2()) << "the focus goes back to Generate";

    // Idle, the Esc key closes the window.
    QTest::keyClick(form, Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(KeyGenWindowTest, MainWindowShowsItModallyAndReopeningKeepsTheTexts) {
    EXPECT_FALSE(main->Button3()->isVisible());
    EXPECT_FALSE(main->Button3()->isEnabled());

    // Run a modal display of the window through the main window's handler; `inside` runs in it.
    const auto showModally = [&](const std::function<void()>& inside) {
        bool ran = false, timedOut = false;
        QTimer::singleShot(0, form, [&] {
            ran = true;
            EXPECT_TRUE(form->isVisible());
            EXPECT_EQ(QApplication::activeModalWidget(), form);
            inside();
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, form, [&] {
            timedOut = true;
            form->done(QDialog::Rejected);
        });
        watchdog.start(60000);
        main->Button3Click(main->Button3());
        EXPECT_TRUE(ran);
        EXPECT_FALSE(timedOut);
        EXPECT_FALSE(form->isVisible());
    };

    std::vector<std::string> texts;
    const auto allTexts = [&] {
        std::vector<std::string> all;
        for (const char* name :
             {"Edit2", "Edit3", "Edit4", "Edit8", "Edit9", "Label6", "Label10", "Label11", "Label12"})
            all.push_back(Text(name));
        return all;
    };
    showModally([&] {
        GenerateValid("16");
        texts = allTexts();
        QTest::mouseClick(form->Button3(), Qt::LeftButton);
    });
    ASSERT_TRUE(IsUpperHex(Text("Edit8")));

    // Reopened: the boxes show the last generation; the title bar's close ends the display.
    showModally([&] {
        EXPECT_EQ(allTexts(), texts);
        QCloseEvent close;
        QApplication::sendEvent(form->windowHandle(), &close);
    });
    EXPECT_EQ(allTexts(), texts);
}

TEST_F(KeyGenWindowTest, EnterInABoxKeepsTheKeyPairAndReturnOnAButtonPressesIt) {
    ShowForm();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    for (QPushButton* button : form->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }
    // Enter before any generation starts none.
    TypeLength("16");
    QTest::keyClick(form->Edit4(), Qt::Key_Return);
    QTest::keyClick(form->Edit4(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(source.Calls, 0);
    EXPECT_EQ(Text("Label10"), "Start time");

    GenerateValid("16");
    const std::vector<std::string> shown = {Text("Edit8"), Text("Edit9"), Text("Edit2"), Text("Edit3")};
    const int calls = source.Calls;
    for (QLineEdit* box : {form->Edit4(), form->Edit8(), form->Edit2(), form->Edit3()}) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
    }
    EXPECT_EQ(source.Calls, calls) << "a generation started";
    EXPECT_EQ((std::vector<std::string>{Text("Edit8"), Text("Edit9"), Text("Edit2"), Text("Edit3")}), shown);

    // Return on the focused Generate button is a press, as Space is.
    form->Button2()->setFocus();
    QTest::keyClick(form->Button2(), Qt::Key_Return);
    EXPECT_GT(source.Calls, calls);
    EXPECT_NE(Text("Label10"), "Start time");
}

} // namespace
} // namespace test
} // namespace zarn
