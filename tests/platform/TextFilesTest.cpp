#include "platform/TextFiles.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zarn {
namespace {

using test::ReadFile;
using test::TTemporaryFolder;
using test::WriteFile;

std::vector<std::string> ReadAllLines(const std::string& fileName, const TLineFilter* filter = nullptr) {
    TTextFileReader reader(fileName);
    std::vector<std::string> lines;
    std::string line;
    while (!reader.Eof()) {
        reader.ReadLine(line, filter);
        lines.push_back(line);
    }
    return lines;
}

using Lines = std::vector<std::string>;

TEST(TextFiles, FolderPartAndExistence) {
    EXPECT_EQ(ExtractFileDir("/a/b/c.key"), "/a/b");
    EXPECT_EQ(ExtractFileDir("c.key"), "");
    EXPECT_EQ(ExtractFileDir("/c.key"), "/");
    EXPECT_EQ(ExtractFileDir("a/"), "a");
    TTemporaryFolder folder;
    WriteFile(folder.File("x.key"), "x");
    EXPECT_TRUE(FileExists(folder.File("x.key")));
    EXPECT_FALSE(FileExists(folder.File("missing.key")));
    EXPECT_FALSE(FileExists(folder.Path())); // a folder is not a file
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(DirectoryExists(folder.Path()));
    EXPECT_FALSE(DirectoryExists(folder.File("x.key")));
    EXPECT_FALSE(DirectoryExists(folder.File("missing")));
}

TEST(TextFiles, LineRules) {
    struct Case {
        std::string content;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"\n", {""}},
        {"AB", {"AB"}},
        {"AB\nCD\n", {"AB", "CD"}},
        {"AB\r\nCD\r\n", {"AB", "CD"}},
        {"A\rB\nC", {"AB", "C"}}, // a lone CR is dropped and does not end the line
        {"AB\r", {"AB"}},
        {"\r\n\r\nX", {"", "", "X"}},
        {"AB\x1A"
         "CD\nEF\n",
         {"AB", "EF"}}, // Ctrl-Z ends its line
        {"AB\n\x1A"
         "CD\nEF\n",
         {"AB"}}, // and at a line's start ends the file
        {"\x1A"
         "AB\n",
         {}},
        {std::string("\xA0\xFF\x80\x00 x\n", 6),
         {std::string("\xA0\xFF\x80\x00 x", 6)}}, // bytes pass unchanged
    };
    TTemporaryFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE("content: " + test::Hex(c.content));
        WriteFile(folder.File("lines.txt"), c.content);
        EXPECT_EQ(ReadAllLines(folder.File("lines.txt")), c.lines);
    }
}

TEST(TextFiles, LongLinesCrossTheBuffer) {
    TTemporaryFolder folder;
    const std::string longLine(200000, 'A');
    WriteFile(folder.File("long.txt"), longLine + "\r\n" + longLine + "\r" + "B\n");
    const Lines lines = ReadAllLines(folder.File("long.txt"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], longLine);
    EXPECT_EQ(lines[1], longLine + "B");
}

TLineFilter HexFilter(std::size_t keepLimit) {
    TLineFilter filter;
    filter.Classes.fill(TLineFilter::lfReject);
    for (const char c : std::string("0123456789ABCDEFabcdef"))
        filter.Classes[static_cast<unsigned char>(c)] = TLineFilter::lfKeep;
    filter.Classes[' '] = TLineFilter::lfDrop;
    filter.KeepLimit = keepLimit;
    return filter;
}

TEST(TextFiles, FilterKeepsDropsAndRejects) {
    TTemporaryFolder folder;
    WriteFile(folder.File("f.txt"), "12 34\nAB-CD\nABCDEF12\n  \n");
    const TLineFilter filter = HexFilter(4);
    EXPECT_EQ(ReadAllLines(folder.File("f.txt"), &filter), (Lines{"1234", "AB-", "ABCD", ""}));
    // A rejected byte beyond the keep limit is still seen.
    WriteFile(folder.File("g.txt"), "ABCDEF1-\nAB\n");
    EXPECT_EQ(ReadAllLines(folder.File("g.txt"), &filter), (Lines{"ABCD-", "AB"}));
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(TextFiles, HundredMegabytesOfJunkInBoundedMemory) {
    TTemporaryFolder folder;
    const std::string fileName = folder.File("junk.txt");
    {
        std::ofstream out(fileName, std::ios::binary);
        const std::string junkLine = "Zarn key file, junk line " + std::string(1000, 'G') + "\r\n";
        out << "G" << std::string(50u << 20, 'A') << "\n"; // one 50 MB line rejected at its first byte
        for (std::size_t written = 0; written < (50u << 20); written += junkLine.size())
            out << junkLine;
        out << "00112233\n";
    }
    const TLineFilter filter = HexFilter(1084);
    const long before = PeakResidentKiB();
    TTextFileReader reader(fileName);
    std::string line;
    std::size_t lines = 0;
    std::size_t longest = 0;
    while (!reader.Eof()) {
        reader.ReadLine(line, &filter);
        longest = std::max(longest, line.size());
        ++lines;
    }
    EXPECT_EQ(line, "00112233");
    EXPECT_LE(longest, 8u);
    EXPECT_GT(lines, 50000u);
    EXPECT_LT(PeakResidentKiB() - before, 16 * 1024) << "the reader grew by more than 16 MiB";
}

TEST(TextFiles, ReaderErrorsNameTheFile) {
    TTemporaryFolder folder;
    try {
        TTextFileReader reader(folder.File("missing.key"));
        FAIL() << "opened a missing file";
    } catch (const EInOutError& error) {
        EXPECT_NE(error.Message().find(folder.File("missing.key")), std::string::npos) << error.Message();
        EXPECT_NE(error.Message().find("No such file or directory"), std::string::npos) << error.Message();
    }
    EXPECT_THROW(TTextFileReader reader(folder.Path()), EInOutError); // a folder
}

TEST(TextFiles, WriterWritesOneLineWithCrLfAndReplaces) {
    TTemporaryFolder folder;
    const std::string fileName = folder.File("out.key");
    WriteTextFileLine(fileName, "ABCD");
    EXPECT_EQ(ReadFile(fileName), "ABCD\r\n");
    WriteFile(fileName, "old content\nsecond line\n");
    chmod(fileName.c_str(), 0640);
    WriteTextFileLine(fileName, "12\xA0");
    EXPECT_EQ(ReadFile(fileName), "12\xA0\r\n");
    struct stat info {};
    ASSERT_EQ(stat(fileName.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << "the replaced file keeps its permissions";
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

TEST(TextFiles, WriterFollowsSymbolicLinks) {
    TTemporaryFolder folder;
    WriteFile(folder.File("real.key"), "old\r\n");
    ASSERT_EQ(symlink("real.key", folder.File("link.key").c_str()), 0);
    WriteTextFileLine(folder.File("link.key"), "NEW");
    EXPECT_EQ(ReadFile(folder.File("real.key")), "NEW\r\n");
    struct stat info {};
    ASSERT_EQ(lstat(folder.File("link.key").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// Writes `fileName` from a process without the right to write into `folder`. Returns 0 when the
// write raised EInOutError naming the file.
int WriteWithoutPermission(const std::string& folder, const std::string& fileName) {
    chmod(folder.c_str(), 0555);
    const int result = test::RunUnprivileged([&] {
        try {
            WriteTextFileLine(fileName, "NEW CONTENT");
        } catch (const EInOutError& error) {
            return error.Message().find(fileName) != std::string::npos ? 0 : 2;
        }
        return 1;
    });
    chmod(folder.c_str(), 0755);
    return result;
}

TEST(TextFiles, FailedWriteLeavesTheOldFileAsItWas) {
    TTemporaryFolder folder;
    const std::string fileName = folder.File("keep.key");
    const std::string old = "0123456789ABCDEF\r\nsecond line\r\n";
    WriteFile(fileName, old);
    chmod(folder.Path().c_str(), 0755);
    chmod(fileName.c_str(), 0644);
    EXPECT_EQ(WriteWithoutPermission(folder.Path(), fileName), 0);
    EXPECT_EQ(ReadFile(fileName), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

TEST(TextFiles, FullDiskLeavesTheOldFileAsItWas) {
    TTemporaryFolder folder;
    const std::string fileName = folder.File("keep.key");
    const std::string old = "old key line\r\n";
    WriteFile(fileName, old);
    std::string message;
    {
        const test::TFileSizeLimit fullDisk(8); // every write beyond 8 bytes fails
        try {
            WriteTextFileLine(fileName, std::string(4096, 'A'));
        } catch (const EInOutError& error) {
            message = error.Message();
        }
    }
    EXPECT_NE(message.find(fileName), std::string::npos) << message;
    EXPECT_NE(message.find("File too large"), std::string::npos) << message;
    EXPECT_EQ(ReadFile(fileName), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

TEST(TextFiles, WriteOverAFolderFails) {
    TTemporaryFolder folder;
    EXPECT_THROW(WriteTextFileLine(folder.Path(), "X"), EInOutError);
    EXPECT_THROW(WriteTextFileLine(folder.File("no/such/folder.key"), "X"), EInOutError);
}

} // namespace
} // namespace zarn
