#include "keyformats/InputFiles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zarn {
namespace {

using test::TTemporaryFolder;
using test::WriteFile;

// The text of the error `action` raises, or "no error".
template <typename Error, typename Action>
std::string ErrorOf(Action action) {
    try {
        action();
    } catch (const Error& error) {
        return error.Message();
    }
    return "no error";
}

// Whether `read` of `name`, run as an ordinary user in a child process, raises the input/output
// error "Permission denied" for it.
template <typename Read>
bool DeniedToAnOrdinaryUser(const std::string& name, Read read) {
    return test::RunUnprivileged([&] {
               return ErrorOf<EInOutError>(read) == "Cannot open file \"" + name + "\": Permission denied"
                          ? 0
                          : 1;
           }) == 0;
}

TEST(InputFiles, ReadsRegularFilesWholeAndRefusesEverythingElse) {
    TTemporaryFolder folder;
    std::string binary;
    for (int i = 0; i < 200000; ++i)
        binary.push_back(static_cast<char>(i * 7 % 256));
    WriteFile(folder.File("key.der"), binary);
    EXPECT_EQ(ReadInputFile(folder.File("key.der")), binary);
    EXPECT_EQ(ReadInputFile(folder.File("key.der"), binary.size()), binary);
    WriteFile(folder.File("empty"), "");
    EXPECT_EQ(ReadInputFile(folder.File("empty")), "");
    ASSERT_EQ(symlink("key.der", folder.File("link").c_str()), 0);
    EXPECT_EQ(ReadInputFile(folder.File("link")), binary);
    ASSERT_EQ(mkfifo(folder.File("fifo").c_str(), 0600), 0);

    const std::string name = folder.File("key.der");
    const struct {
        std::string File;
        std::size_t Limit;
        std::string Error;
    } cases[] = {
        {name, binary.size() - 1, "Cannot read file \"" + name + "\": larger than 199999 bytes"},
        {folder.File("missing"), MaxInputFileBytes,
         "Cannot open file \"" + folder.File("missing") + "\": No such file or directory"},
        {folder.Path(), MaxInputFileBytes, "Cannot open file \"" + folder.Path() + "\": Is a directory"},
        // Neither blocks: nobody writes the FIFO, and the device never ends.
        {folder.File("fifo"), MaxInputFileBytes,
         "Cannot open file \"" + folder.File("fifo") + "\": it is not a regular file"},
        {"/dev/zero", MaxInputFileBytes, "Cannot open file \"/dev/zero\": it is not a regular file"},
    };
    for (const auto& row : cases)
        EXPECT_EQ(ErrorOf<EInOutError>([&] { ReadInputFile(row.File, row.Limit); }), row.Error);

    chmod(name.c_str(), 0);
    EXPECT_TRUE(DeniedToAnOrdinaryUser(name, [&] { ReadInputFile(name); }));
}

TEST(InputFiles, ThePassphraseIsTheFirstLineWithoutItsLineEnd) {
    TTemporaryFolder folder;
    const std::string longest(MaxPassphraseBytes, 'x');
    const struct {
        std::string Content;
        std::string Passphrase;
    } cases[] = {
        {"secret\n", "secret"},
        {"secret", "secret"},
        {"secret\nsecond line\n", "secret"},
        {" spaced out \t\nmore\r\n", " spaced out \t"},
        {"\xE4\xF6\xFC\n", "\xE4\xF6\xFC"},
        {longest, longest},
        {longest + "\n" + longest + "yz", longest},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(test::Hex(row.Content.substr(0, 40)));
        WriteFile(folder.File("pass"), row.Content);
        EXPECT_EQ(ReadPassphraseFile(folder.File("pass")).Text, row.Passphrase);
    }

    const std::string name = folder.File("pass");
    // What OpenSSL's -passin file: reads another way: a CR is kept there, a NUL ends the line.
    for (const std::string& content :
         {std::string("secret\r\n"), std::string("in\rside\n"), std::string("ends with CR\r"),
          std::string("\r\nsecret\n"), longest + "\r\n"}) {
        WriteFile(name, content);
        EXPECT_NE(
            ErrorOf<EPassphraseFileError>([&] { ReadPassphraseFile(name); }).find("holds a carriage return"),
            std::string::npos);
    }
    WriteFile(name, std::string("nul\0byte\n", 9));
    EXPECT_NE(ErrorOf<EPassphraseFileError>([&] { ReadPassphraseFile(name); }).find("holds a NUL byte"),
              std::string::npos);
    for (const std::string& content : {std::string(), std::string("\n")}) {
        WriteFile(name, content);
        EXPECT_EQ(ErrorOf<EPassphraseFileError>([&] { ReadPassphraseFile(name); }),
                  "The passphrase file \"" + name + "\" has an empty first line");
    }
    for (const std::string& content : {longest + "y", longest + "y\n", longest + "yz\r\n"}) {
        WriteFile(name, content);
        EXPECT_EQ(ErrorOf<EPassphraseFileError>([&] { ReadPassphraseFile(name); }),
                  "The first line of the passphrase file \"" + name + "\" is longer than 1023 bytes");
    }
    EXPECT_EQ(ErrorOf<EInOutError>([&] { ReadPassphraseFile(folder.Path()); }),
              "Cannot open file \"" + folder.Path() + "\": Is a directory");
    EXPECT_EQ(ErrorOf<EInOutError>([&] { ReadPassphraseFile("/dev/zero"); }),
              "Cannot open file \"/dev/zero\": it is not a regular file");
}

TEST(InputFiles, APassphraseFileReadableByOthersIsReported) {
    TTemporaryFolder folder;
    const std::string name = folder.File("pass");
    WriteFile(name, "secret\n");
    for (const auto& [mode, readable] : {std::pair{0600, false},
                                         {0400, false},
                                         {0640, true},
                                         {0604, true},
                                         {0644, true},
                                         {0620, false},
                                         {0602, false}}) {
        ASSERT_EQ(chmod(name.c_str(), static_cast<mode_t>(mode)), 0);
        EXPECT_EQ(ReadPassphraseFile(name).ReadableByOthers, readable) << std::oct << mode;
    }
    ASSERT_EQ(chmod(name.c_str(), 0), 0);
    EXPECT_TRUE(DeniedToAnOrdinaryUser(name, [&] { ReadPassphraseFile(name); }));
}

TEST(InputFiles, APassphraseComesThroughAPipe) {
    // A named FIFO waits for its writer; an anonymous pipe (as `<(command)` hands over) is read as it is.
    TTemporaryFolder folder;
    const std::string fifo = folder.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        if (fd >= 0) {
            const std::string text = "through the fifo\nnot this\n";
            EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
            close(fd);
        }
    });
    const TPassphrase fromFifo = ReadPassphraseFile(fifo);
    writer.join();
    EXPECT_EQ(fromFifo.Text, "through the fifo");
    EXPECT_FALSE(fromFifo.ReadableByOthers);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string text = "through a pipe\n";
    ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(ends[1]);
    EXPECT_EQ(ReadPassphraseFile("/dev/fd/" + std::to_string(ends[0])).Text, "through a pipe");
    close(ends[0]);
}

} // namespace
} // namespace zarn
