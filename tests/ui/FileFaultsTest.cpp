// Files that cannot be read or written, met from the main window: each error reaches the error box
// with its text, nothing is lost, and the window goes on working.
#include "tests/ui/UiTestSupport.h"

#include "keyrecord/ZarnPublicKey.h"
#include "platform/Errors.h"

#include <sys/stat.h>
#include <unistd.h>

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

class WindowFileFaults : public MainWindowTest {
protected:
    // Chooses `path` in the open dialog and presses "Import...": the import's error `reason`
    // reaches the error box and no box changes.
    void ExpectImportErrorInTheBox(const std::string& path, const std::string& reason) {
        SCOPED_TRACE(path);
        boxes.Shown.clear();
        const std::vector<std::string> before = AllBoxes();
        dialogs.Choose(path);
        Click("Button1");
        EXPECT_NE(reason.find(path), std::string::npos) << reason;
        EXPECT_EQ(boxes.Shown, (std::vector<TShown>{{TRecordedMessageBoxes::mbError, BoxText(reason)}}));
        EXPECT_EQ(AllBoxes(), before) << "the handler copied nothing";
    }
};

TEST_F(WindowFileFaults, UnreadableImportsReachTheErrorBoxAndChangeNothing) {
    const TRecord record;
    ImportRecord("good.key", record.WithHash());
    // A folder, and a FIFO (which is no regular file, and must not block the window: an import
    // that blocks on it ends the test program by the alarm instead of hanging it).
    ASSERT_EQ(mkfifo(folder.File("fifo.key").c_str(), 0644), 0);
    alarm(60);
    for (const std::string& path : {folder.Path(), folder.File("fifo.key")}) {
        const std::string reason = ImportError(path);
        ASSERT_FALSE(reason.empty()) << path << " could be read";
        ExpectImportErrorInTheBox(path, reason);
    }
    alarm(0);
    boxes.Shown.clear();
    ImportRecord("again.key", record.WithHash());
    EXPECT_EQ(boxes.Shown,
              (std::vector<TShown>{{TRecordedMessageBoxes::mbMessage, "Import successfully completed!"}}));
}

TEST_F(WindowFileFaults, FileWhoseReadFailsReachesTheErrorBox) {
    // The process's own memory read from address 0: a regular file whose read fails, where the
    // system refuses that read.
    const std::string path = "/proc/self/mem";
    const std::string reason = ImportError(path);
    if (reason.empty())
        GTEST_SKIP() << path << " reads without an error on this system, so it shows no read fault";
    ImportRecord("good.key", TRecord().WithHash());
    ExpectImportErrorInTheBox(path, reason);
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
