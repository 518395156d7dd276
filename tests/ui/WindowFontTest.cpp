// The windows' font on the screen at hand. CTest runs these tests at the device pixel ratio 1 and
// again with QT_SCALE_FACTOR at 1.5 and 2: the bitmap face MS Sans Serif serves the first, the
// scalable Tahoma the others, and on every screen the texts fit the places the layout gives them.
#include "tests/ui/UiTestSupport.h"
#include "ui/FormGenerateRSA.h"
#include "ui/ZarnApplication.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>

namespace zarn::test {
namespace {

bool WineFontsInstalled() {
    return QFile::exists("/usr/share/wine/fonts/ms_sans_serif.ttf") &&
           QFile::exists("/usr/share/wine/fonts/tahoma.ttf");
}

// Every label of `labels` ends before `boxLeft`, where the boxes of its column begin, and its text
// is no taller than a box.
void ExpectLabelsBeforeTheirBoxes(QWidget& window, const std::vector<const char*>& labels, int boxLeft) {
    for (const char* name : labels) {
        const auto* label = window.findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        const QFontMetrics metrics(label->font());
        EXPECT_LT(label->x() + metrics.horizontalAdvance(label->text()), boxLeft)
            << name << " \"" << label->text().toStdString() << "\" runs into its box";
        EXPECT_LE(metrics.height(), 21) << name;
    }
}

void ExpectButtonTextsFit(QWidget& window) {
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        const QFontMetrics metrics(button->font());
        EXPECT_LE(metrics.horizontalAdvance(button->text()) + 4, button->width())
            << button->objectName().toStdString();
        EXPECT_LE(metrics.height() + 4, button->height()) << button->objectName().toStdString();
    }
}

TEST(WindowFont, FollowsTheScreenAndTheTextsFitTheirPlaces) {
    if (!WineFontsInstalled())
        GTEST_SKIP() << "the Wine fonts (fonts-wine) are not installed";
    const bool dense = qApp->devicePixelRatio() != 1.0;
    EXPECT_EQ(LoadApplicationFonts(), !dense);

    TForm1 Form1;
    TForm2 Form2(&Form1);
    const auto* label = Form1.findChild<QLabel*>("Label1");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->font().family(), "MS Sans Serif") << "the windows ask for the specified face";
    const QFontInfo face(label->font());
    const QFontInfo keyGenFace(Form2.font());
    if (dense) {
        EXPECT_EQ(face.family(), "Tahoma");
        EXPECT_EQ(keyGenFace.family(), "Tahoma");
        EXPECT_TRUE(QFontDatabase::isSmoothlyScalable("Tahoma"));
    } else {
        EXPECT_EQ(face.family(), "MS Sans Serif");
        EXPECT_EQ(keyGenFace.family(), "MS Sans Serif");
        EXPECT_FALSE(QFontDatabase::isSmoothlyScalable("MS Sans Serif"));
    }

    ExpectLabelsBeforeTheirBoxes(Form1,
                                 {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7",
                                  "Label8", "Label9", "Label10", "Label12"},
                                 176);
    ExpectLabelsBeforeTheirBoxes(Form2, {"Label5", "Label8", "Label9", "Label1", "Label3", "Label7"}, 156);
    ExpectButtonTextsFit(Form1);
    ExpectButtonTextsFit(Form2);

    const auto* title = Form1.findChild<QLabel*>("Label11");
    ASSERT_NE(title, nullptr);
    EXPECT_LE(QFontMetrics(title->font()).horizontalAdvance(title->text()), title->width());
    EXPECT_GE(title->font().pixelSize(), 24) << "the title stays large";
}

} // namespace
} // namespace zarn::test
