#include "platform/AtomicWriter.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/TextFileReader.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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

// The peak resident size of this process in KiB (VmHWM), after ResetPeakResident its current size.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

bool ResetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

TEST(TextFiles, HundredMegabytesOfJunkInBoundedMemory) {
    // The mark is taken before anything large exists, and the file is written in small pieces, so
    // a reader that kept a whole line would show.
    if (!ResetPeakResident())
        GTEST_SKIP() << "/proc/self/clear_refs cannot be written, so the peak memory cannot be reset";
    const long before = PeakResidentKiB();
    TTemporaryFolder folder;
    const std::string fileName = folder.File("junk.txt");
    {
        std::ofstream out(fileName, std::ios::binary);
        const std::string junkLine = "Zarn key file, junk line " + std::string(1000, 'G') + "\r\n";
        const std::string piece(64 << 10, 'A');
        out << "G"; // one 50 MB line rejected at its first byte
        for (std::size_t written = 0; written < (50u << 20); written += piece.size())
            out << piece;
        out << "\n";
        for (std::size_t written = 0; written < (50u << 20); written += junkLine.size())
            out << junkLine;
        out << "00112233\n";
    }
    const TLineFilter filter = HexFilter(1084);
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

// The lines FindLine must accept, one after another, found the plain way: every line read whole,
// blanks and no-break spaces removed, kept when non-empty and all hexadecimal, cut to `keepLimit`.
Lines AcceptedLinesReadWhole(const std::string& fileName, std::size_t keepLimit) {
    Lines accepted;
    for (const std::string& line : ReadAllLines(fileName)) {
        std::string cleaned;
        for (const char c : line)
            if (c != ' ' && c != '\xA0')
                cleaned.push_back(c);
        const bool hex = cleaned.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
        if (!cleaned.empty() && hex)
            accepted.push_back(cleaned.substr(0, keepLimit));
    }
    return accepted;
}

TEST(TextFiles, FindLineAgreesWithReadingLineByLine) {
    SCOPED_TRACE(test::SeedTrace());
    auto generator = test::SeededGenerator(71);
    // Bytes that matter to the line rules and the filter, hexadecimal digits most of all.
    const std::string alphabet = std::string("0123456789ABCDEFabcdef0A1b  \xA0\r\n\n\x1A"
                                             "G\t-",
                                             36);
    TTemporaryFolder folder;
    for (int round = 0; round < 60; ++round) {
        // Lines of every length from empty to several buffers, so that lines, Ctrl-Z and CR LF
        // pairs fall across the 64 KiB buffer boundary.
        std::string content;
        const std::size_t size = generator() % 300000;
        while (content.size() < size) {
            const std::size_t length = generator() % 4 == 0 ? generator() % 150000 : generator() % 40;
            const bool junk = generator() % 3 == 0;
            for (std::size_t i = 0; i < length; ++i) {
                const char c = alphabet[generator() % alphabet.size()];
                content.push_back(
                    junk || (c != '\n' && c != '\x1A' && c != 'G' && c != '\t' && c != '-') ? c : 'E');
            }
            content += generator() % 2 == 0 ? "\r\n" : "\n";
        }
        if (generator() % 4 == 0)
            content.pop_back(); // the last line without its line feed
        WriteFile(folder.File("lines.txt"), content);
        const std::size_t keepLimit = generator() % 2 == 0 ? 1084 : 7;
        const Lines expected = AcceptedLinesReadWhole(folder.File("lines.txt"), keepLimit);
        TLineFilter filter = HexFilter(keepLimit);
        filter.Classes[0xA0] = TLineFilter::lfDrop;
        TTextFileReader reader(folder.File("lines.txt"));
        Lines found;
        std::string line = "stale";
        while (reader.FindLine(line, filter))
            found.push_back(line);
        EXPECT_EQ(line, "") << "round " << round;
        ASSERT_EQ(found, expected) << "round " << round;
        EXPECT_TRUE(reader.Eof());
    }
    // A Ctrl-Z or a line feed right at the buffer boundary, after a line begun before it (hex
    // digits, blanks only or a CR only) or at the start of a line.
    for (std::size_t at = 65533; at <= 65539; ++at) {
        for (const char* lineStart : {"AB", "  ", "\r", ""}) {
            for (const char* atBoundary : {"\x1A", "\n", "\n\x1A"}) {
                std::string content = "-junk\n";
                content += std::string(at - content.size() - std::strlen(lineStart) - 1, '0') + "\n";
                content += lineStart;
                content += atBoundary;
                content += "9 9\n\x1A"
                           "C\n";
                WriteFile(folder.File("edge.txt"), content);
                const TLineFilter filter = HexFilter(1084);
                TTextFileReader reader(folder.File("edge.txt"));
                Lines found;
                std::string line;
                while (reader.FindLine(line, filter))
                    found.push_back(line);
                EXPECT_EQ(found, AcceptedLinesReadWhole(folder.File("edge.txt"), 1084))
                    << at << " " << test::Hex(lineStart) << " " << test::Hex(atBoundary);
            }
        }
    }
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

namespace zarn {
namespace {

// A pipe is read as its data comes and never waits for ever: the open returns at once, and a read
// ends with the reason when nothing comes within the wait time.
TEST(TextFiles, PipesAreWaitedForABoundedTime) {
    using namespace std::chrono_literals;
    test::TTemporaryFolder folder;
    const std::string fifo = folder.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* Name;
        std::function<void()> Writer; // run on its own thread once the reader has opened the FIFO
        std::string Expected;         // what is read, or the error's end
    } cases[] = {
        {"no writer", [] {}, "no data came through the pipe within 0.2 seconds"},
        {"data after a while",
         [&] {
             std::this_thread::sleep_for(50ms);
             const int fd = open(fifo.c_str(), O_WRONLY);
             EXPECT_EQ(write(fd, "late", 4), 4);
             close(fd);
         },
         "late"},
        {"a writer that closes at once", [&] { close(open(fifo.c_str(), O_WRONLY)); }, ""},
    };
    char buffer[16];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TReadableFile file(fifo, true, 200ms); // with no writer yet: an open that blocked would hang here
        std::thread writer(c.Writer);
        std::string got;
        try {
            for (std::size_t count; (count = file.Read(buffer, sizeof buffer)) > 0;)
                got.append(buffer, count);
        } catch (const EInOutError& error) {
            got = error.Message();
        }
        writer.join();
        EXPECT_TRUE(got.size() >= c.Expected.size() &&
                    got.compare(got.size() - c.Expected.size(), std::string::npos, c.Expected) == 0)
            << got;
    }
    EXPECT_THROW(TReadableFile(fifo, false), EInOutError) << "a FIFO only where allowed";
}

} // namespace
} // namespace zarn
