// Files that cannot be read or written, met from the main window: each error reaches the error box
// with its text, nothing is lost, and the window goes on working.
#include "tests/ui/UiTestSupport.h"

#include "keyrecord/ZarnPublicKey.h"
#include "platform/Errors.h"
#include "platform/TextFiles.h"

namespace zarn::test {
namespace {

using TShown = TRecordedMessageBoxes::TShown;

// The text the error box shows for `error`: a full stop is added after a last character above '.'.
std::string BoxText(const std::string& error) {
    return static_cast<unsigned char>(error.back()) > '.' ? error + "." : error;
}

// The error a plain import of `path` raises ("" when it raises none).
std::string ImportError(const std::string& path) {
    try {
        TZarnPublicKey probe;
        probe.SetFileName(path);
        std::string message;
        probe.ImportKey(message);
    } catch (const EInOutError& error) {
        return error.Message();
    }
    return std::string();
}

class WindowFileFaults : public MainWindowTest {};

TEST_F(WindowFileFaults, UnreadableImportsReachTheErrorBoxAndChangeNothing) {
    const TRecord record;
    ImportRecord("good.key", record.WithHash());
    const std::vector<std::string> before = AllBoxes();
    // A folder, and a file whose read fails (the process's own memory at address 0).
    for (const std::string& path : {folder.Path(), std::string("/proc/self/mem")}) {
        SCOPED_TRACE(path);
        boxes.Shown.clear();
        const std::string reason = ImportError(path);
        if (reason.empty() && path != folder.Path())
            continue; // a system whose /proc/self/mem reads without error
        ASSERT_FALSE(reason.empty()) << "the folder could be read";
        dialogs.Choose(path);
        Click("Button1");
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
        EXPECT_EQ(boxes.Shown, (std::vector<TShown>{{TRecordedMessageBoxes::mbError, BoxText(reason)}}));
        EXPECT_EQ(AllBoxes(), before) << "the handler copied nothing";
    }
    boxes.Shown.clear();
    ImportRecord("again.key", record.WithHash());
    EXPECT_EQ(boxes.Shown,
              (std::vector<TShown>{{TRecordedMessageBoxes::mbMessage, "Import successfully completed!"}}));
}

TEST_F(WindowFileFaults, ExportOntoAFullDiskKeepsTheOldFile) {
    const TRecord record;
    const std::string path = ImportRecord("key.key", record.WithHash());
    const std::string old = ReadFile(path);
    Type("Edit8", QString(QByteArray(200, 'C')));
    boxes.Shown.clear();

    {
        const TFileSizeLimit fullDisk(16); // the write fails as on a full disk
        dialogs.Choose(path);
        Click("Button2");
    }

    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Kind, TRecordedMessageBoxes::mbError);
    EXPECT_NE(boxes.Shown[0].Text.find(path), std::string::npos) << boxes.Shown[0].Text;
    EXPECT_NE(boxes.Shown[0].Text.find("File too large"), std::string::npos) << boxes.Shown[0].Text;
    EXPECT_EQ(ReadFile(path), old) << "the previous file is byte for byte as it was";

    // With room again the same export goes through.
    dialogs.Choose(path);
    Click("Button2");
    EXPECT_EQ(boxes.Shown.back().Text, "Export successfully completed!");
    EXPECT_NE(ReadFile(path), old);
}

} // namespace
} // namespace zarn::test
