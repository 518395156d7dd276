#include "encoding/UTHHexUtilities.h"
#include "keyrecord/ZarnPublicKey.h"
#include "platform/Errors.h"
#include "platform/FileDialogs.h"
#include "tests/keyrecord/KeyFileFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zarn {
namespace {

using test::RecordState;
using test::SetOldValues;
using test::TRecord;
using test::TTemporaryFolder;
using test::WriteFile;

class ImportKey : public ::testing::Test {
protected:
    // Writes `content` as the key file and imports it without a dialog.
    std::int32_t Import(const std::string& content) {
        WriteFile(m_folder.File("record.key"), content);
        m_key.SetFileName(m_folder.File("record.key"));
        return m_key.ImportKey(m_message);
    }

    TTemporaryFolder m_folder;
    TZarnPublicKey m_key;
    std::string m_message;
};

// The default record: owner 123456789F, index 5, date 1212, indicators 1 and 1, modulus ABCD,
// exponent 03, then its SHA-1.
const std::string kFullLine = BytesToHex(TRecord().WithHash());
const std::vector<std::string> kFullState = {
    "123456789", "5", "1212", "1",  "1",
    "2",         "1", "ABCD", "03", BytesToHex(test::OpenSslSha1(TRecord().HashInput()))};

TEST_F(ImportKey, EveryStatusOfTheRecordChecks) {
    std::string tamperedLine = kFullLine;
    tamperedLine[24] = 'B'; // first modulus digit: A -> B
    std::vector<std::string> tamperedState = kFullState;
    tamperedState[7] = "BBCD";
    TRecord indicator2;
    indicator2.HashIndicator = 2;
    std::vector<std::string> indicator2State = kFullState;
    indicator2State[3] = "2";
    indicator2State[9] = BytesToHex(test::OpenSslSha1(indicator2.HashInput()));
    struct Row {
        const char* name;
        std::string line;
        std::int32_t status;
        const char* message;
        std::size_t decoded; // properties that take new values, in layout order
        std::vector<std::string> newState;
        bool verified; // whether the hash verification ran
    };
    const Row rows[] = {
        {"complete", kFullLine, 0, "Import successfully completed!", 10, kFullState, true},
        {"owner id short", kFullLine.substr(0, 8), 100, "Incorrect public key owner identifier", 0,
         kFullState, false},
        {"no index", kFullLine.substr(0, 10), 102, "Incorrect public key index", 1, kFullState, false},
        {"date short", kFullLine.substr(0, 14), 103, "Incorrect public key expiration date", 2, kFullState,
         false},
        {"no hash indicator", kFullLine.substr(0, 16), 105, "Incorrect hash algorithm indicator", 3,
         kFullState, false},
        {"no algorithm indicator", kFullLine.substr(0, 18), 106, "Incorrect public key algorithm indicator",
         4, kFullState, false},
        {"no modulus length", kFullLine.substr(0, 20), 107, "Incorrect public modulus length", 5, kFullState,
         false},
        {"no exponent length", kFullLine.substr(0, 22), 108, "Incorrect public key exponent length", 6,
         kFullState, false},
        {"modulus short", kFullLine.substr(0, 26), 109, "Incorrect public key modulus", 7, kFullState, false},
        {"exponent missing", kFullLine.substr(0, 28), 110, "Incorrect public key exponent", 8, kFullState,
         false},
        {"hash short", kFullLine.substr(0, 30 + 38), 111, "Incorrect hash result", 9, kFullState, false},
        {"tampered modulus", tamperedLine, 112, "Hash verification failed", 10, tamperedState, true},
        {"hash indicator 2", BytesToHex(indicator2.WithHash()), 112,
         "Hash algorithm indicator not 1, hash not verified", 10, indicator2State, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetOldValues(m_key);
        const std::vector<std::string> oldState = RecordState(m_key);
        EXPECT_EQ(Import("junk line\r\n" + row.line + "\r\n"), row.status);
        EXPECT_EQ(m_message, row.message);
        const std::vector<std::string> state = RecordState(m_key);
        for (std::size_t i = 0; i < state.size(); ++i)
            EXPECT_EQ(state[i], i < row.decoded ? row.newState[i] : oldState[i]) << "property " << i;
        const std::string expected =
            row.verified ? BytesToHex(test::OpenSslSha1(HexToBytes(row.line).substr(0, 15))) : "old expected";
        EXPECT_EQ(m_key.GetExpectedHashResult(), expected);
    }
}

TEST_F(ImportKey, NoKeyLineAndMissingFile) {
    for (const std::string& content : {std::string(), std::string("text only\r\nsecond: line\r\n\r\n   \r\n"),
                                       std::string("\x1A"
                                                   "0011223344\r\n")}) {
        SetOldValues(m_key);
        EXPECT_EQ(Import(content), 1);
        EXPECT_EQ(m_message, "No key found");
        EXPECT_EQ(m_key.GetPublicKeyOwnerId(), "old owner");
    }
    m_key.SetFileName(m_folder.File("missing.key"));
    EXPECT_EQ(m_key.ImportKey(m_message), 2);
    EXPECT_EQ(m_message, "File " + m_folder.File("missing.key") + " does not exist");
    m_key.SetFileName("");
    EXPECT_EQ(m_key.ImportKey(m_message), 2);
    EXPECT_EQ(m_message, "File  does not exist");
}

TEST_F(ImportKey, DialogChoosesTheFileOrCancels) {
    TScriptedFileDialogs dialogs;
    m_key.SetFileDialogs(&dialogs);
    m_key.SetShowFileDialog(true);
    WriteFile(m_folder.File("chosen.key"), kFullLine + "\r\n");
    m_key.SetFileName(m_folder.File("earlier.key"));
    dialogs.Choose(m_folder.File("chosen.key"));
    EXPECT_EQ(m_key.ImportKey(m_message), 0);
    EXPECT_EQ(m_key.GetFileName(), m_folder.File("chosen.key"));
    ASSERT_EQ(dialogs.Asked.size(), 1u);
    EXPECT_EQ(dialogs.Asked[0].Kind, TScriptedFileDialogs::fdOpen);
    EXPECT_EQ(dialogs.Asked[0].InitialFolder, m_folder.Path());

    SetOldValues(m_key);
    dialogs.Cancel();
    EXPECT_EQ(m_key.ImportKey(m_message), 1);
    EXPECT_EQ(m_message, "Import aborted during file dialog");
    EXPECT_EQ(m_key.GetFileName(), m_folder.File("chosen.key"));
    EXPECT_EQ(m_key.GetPublicKeyOwnerId(), "old owner");

    // A file name without a folder part opens the dialog in the default folder.
    m_key.SetFileName("plain.key");
    dialogs.Cancel();
    m_key.ImportKey(m_message);
    EXPECT_EQ(dialogs.Asked.back().InitialFolder, "");

    // Without the dialog the name is used as it is and no dialog is asked.
    m_key.SetShowFileDialog(false);
    m_key.SetFileName(m_folder.File("missing.key"));
    EXPECT_EQ(m_key.ImportKey(m_message), 2);
    EXPECT_EQ(dialogs.Asked.size(), 3u);
}

TEST_F(ImportKey, KeyLineRules) {
    struct Row {
        const char* name;
        std::string content;
        std::int32_t status;
    };
    std::string lower = kFullLine;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string spaced;
    for (std::size_t i = 0; i < kFullLine.size(); ++i)
        spaced += std::string(i % 3 == 0 ? " " : (i % 5 == 0 ? "\xA0" : "")) + kFullLine[i];
    const Row rows[] = {
        {"lower case", lower + "\n", 0},
        {"blanks and no-break spaces", "  " + spaced + " \xA0\r\n", 0},
        {"tab makes a line no key line", kFullLine.substr(0, 8) + "\t00\n" + kFullLine + "\n", 0},
        {"hyphen", "12-34\n" + kFullLine + "\n", 0},
        {"colon", "AB:CD\n" + kFullLine + "\n", 0},
        {"letter beyond F", "ABCG\n" + kFullLine + "\n", 0},
        {"byte above 127", "AB\xE4\n" + kFullLine + "\n", 0},
        {"BEEF is a key line", "BEEF\n" + kFullLine + "\n", 100},
        {"first of two key lines decides", kFullLine.substr(0, 20) + "\n" + kFullLine + "\n", 107},
        {"odd digit count loses its last digit", kFullLine + "7\n", 0},
        {"eleven digits", kFullLine.substr(0, 11) + "\n", 102},
        {"extra digits after the hash", kFullLine + "0123456789ABCDEF\n", 0},
        {"lone CR inside the line", kFullLine.substr(0, 20) + "\r" + kFullLine.substr(20) + "\n", 0},
        {"Ctrl-Z ends the key line", kFullLine.substr(0, 20) + "\x1A" + kFullLine.substr(20) + "\n", 107},
        {"no line end", kFullLine, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Import(row.content), row.status) << m_message;
        if (row.status == 0) {
            EXPECT_EQ(RecordState(m_key), kFullState);
        }
    }
}

TEST_F(ImportKey, FieldValues) {
    TRecord record;
    record.OwnerId = "\x12\x34\x56\x78\x9F";
    record.Index = 0x10;
    record.ExpDate = "\x25\x12";
    record.HashIndicator = 1;
    record.AlgorithmIndicator = 0xFE;
    record.Modulus = "";
    record.Exponent = std::string("\x01\x00\x01", 3);
    EXPECT_EQ(Import(BytesToHex(record.WithHash())), 0) << m_message;
    EXPECT_EQ(m_key.GetPublicKeyOwnerId(), "123456789");
    EXPECT_EQ(m_key.GetPublicKeyIndex(), 16);
    EXPECT_EQ(m_key.GetPublicKeyExpDate(), "2512");
    EXPECT_EQ(m_key.GetPublicKeyAlgorithmIndicator(), 254);
    EXPECT_EQ(m_key.GetPublicKeyModulusLength(), 0);
    EXPECT_EQ(m_key.GetPublicKeyModulus(), "");
    EXPECT_EQ(m_key.GetPublicKeyExponent(), "010001");
    EXPECT_EQ(m_key.GetHashResult(), m_key.GetExpectedHashResult());

    // Lengths of 255 and the largest record.
    record.Modulus = std::string(255, '\xC3');
    record.Exponent = std::string(255, '\x01');
    EXPECT_EQ(Import(BytesToHex(record.WithHash())), 0) << m_message;
    EXPECT_EQ(m_key.GetPublicKeyModulusLength(), 255);
    EXPECT_EQ(m_key.GetPublicKeyModulus(), BytesToHex(record.Modulus));
    EXPECT_EQ(m_key.GetPublicKeyExponent(), BytesToHex(record.Exponent));
}

TEST_F(ImportKey, TamperedRecordKeepsBothHashes) {
    TRecord record;
    const std::string stored = BytesToHex(test::OpenSslSha1(record.HashInput()));
    record.Modulus = "\xAB\xCE";
    const std::string tampered = BytesToHex(record.HashInput()) + stored;
    EXPECT_EQ(Import(tampered), 112);
    EXPECT_EQ(m_message, "Hash verification failed");
    EXPECT_EQ(m_key.GetHashResult(), stored);
    EXPECT_EQ(m_key.GetExpectedHashResult(), BytesToHex(test::OpenSslSha1(record.HashInput())));
    EXPECT_NE(m_key.GetHashResult(), m_key.GetExpectedHashResult());
}

TEST_F(ImportKey, LongKeyLineAndJunkAreReadInFull) {
    // A key line far longer than any record: the record is decoded from its start.
    EXPECT_EQ(Import(kFullLine + std::string(3000000, '0') + "\r\n"), 0) << m_message;
    // A long junk line with a key-like start does not count.
    EXPECT_EQ(Import(kFullLine + std::string(100000, '0') + "-\r\n" + kFullLine.substr(0, 10)), 102);
}

TEST_F(ImportKey, UnreadableFilesRaise) {
    m_key.SetFileName(m_folder.Path());
    try {
        m_key.ImportKey(m_message);
        FAIL() << "a folder was read";
    } catch (const EInOutError& error) {
        EXPECT_NE(error.Message().find(m_folder.Path()), std::string::npos) << error.Message();
        EXPECT_NE(error.Message().find("Is a directory"), std::string::npos) << error.Message();
    }
    const std::string fileName = m_folder.File("secret.key");
    WriteFile(fileName, kFullLine + "\r\n");
    chmod(fileName.c_str(), 0000);
    chmod(m_folder.Path().c_str(), 0755);
    const int result = test::RunUnprivileged([&] {
        TZarnPublicKey key;
        key.SetFileName(fileName);
        std::string message;
        try {
            key.ImportKey(message);
        } catch (const EInOutError& error) {
            return error.Message().find("Permission denied") != std::string::npos ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(result, 0);
}

// Removes the key file after the existence check, right before the key line search reads it.
class TVanishingFile : public TZarnPublicKey {
public:
    std::int32_t FindKeyLine(std::string& Line) override {
        std::remove(GetFileName().c_str());
        return TZarnPublicKey::FindKeyLine(Line);
    }
};

TEST_F(ImportKey, FileThatDisappearsBeforeTheReadRaises) {
    WriteFile(m_folder.File("vanishing.key"), kFullLine + "\r\n");
    TVanishingFile key;
    SetOldValues(key);
    key.SetFileName(m_folder.File("vanishing.key"));
    try {
        key.ImportKey(m_message);
        FAIL() << "a removed file was read";
    } catch (const EInOutError& error) {
        EXPECT_NE(error.Message().find(m_folder.File("vanishing.key")), std::string::npos) << error.Message();
        EXPECT_NE(error.Message().find("No such file or directory"), std::string::npos) << error.Message();
    }
    EXPECT_EQ(key.GetPublicKeyOwnerId(), "old owner");
}

// The error an import of `fileName` raises: "" when it raises none, else its text; the status
// when it returns one is appended as " -> <status>".
std::string ImportOutcome(const std::string& fileName) {
    TZarnPublicKey key;
    key.SetFileName(fileName);
    std::string message;
    try {
        return "-> " + std::to_string(key.ImportKey(message));
    } catch (const EInOutError& error) {
        return error.Message();
    }
}

TEST_F(ImportKey, WhatIsNotARegularFileRaisesWithoutBlocking) {
    ASSERT_EQ(mkfifo(m_folder.File("fifo.key").c_str(), 0644), 0);
    ASSERT_EQ(symlink("fifo.key", m_folder.File("link.key").c_str()), 0);
    // In a child with an alarm: an import that blocks on the FIFO or reads /dev/zero for ever fails
    // instead of hanging the tests.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(20);
        int failures = 0;
        for (const std::string& name : {m_folder.File("fifo.key"), m_folder.File("link.key"),
                                        std::string("/dev/zero"), std::string("/dev/null")}) {
            const std::string outcome = ImportOutcome(name);
            if (outcome.find(name) == std::string::npos ||
                outcome.find("not a regular file") == std::string::npos) {
                std::fprintf(stderr, "%s: %s\n", name.c_str(), outcome.c_str());
                ++failures;
            }
        }
        _exit(failures);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ImportKey, OnlyAPathThatDoesNotExistIsMissing) {
    WriteFile(m_folder.File("record.key"), kFullLine + "\r\n");
    ASSERT_EQ(symlink("loop.key", m_folder.File("loop.key").c_str()), 0);
    ASSERT_EQ(symlink("nowhere.key", m_folder.File("dangling.key").c_str()), 0);
    struct Row {
        std::string name;
        std::string outcome; // what the outcome holds
    };
    const Row rows[] = {
        {m_folder.File("loop.key"), "Too many levels of symbolic links"},
        {m_folder.File("missing.key"), "-> 2"},
        {m_folder.File("dangling.key"), "-> 2"},
        {m_folder.File("record.key/x.key"), "-> 2"}, // ENOTDIR
        {m_folder.File("record.key"), "-> 0"},
    };
    for (const Row& row : rows) {
        const std::string outcome = ImportOutcome(row.name);
        EXPECT_NE(outcome.find(row.outcome), std::string::npos) << row.name << ": " << outcome;
        if (row.outcome.rfind("->", 0) != 0) {
            EXPECT_NE(outcome.find(row.name), std::string::npos) << outcome;
        }
    }
    // A folder without search permission: its files cannot be checked (root could, so the import
    // runs as nobody).
    const std::string closed = m_folder.File("closed");
    ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
    WriteFile(closed + "/record.key", kFullLine + "\r\n");
    chmod(closed.c_str(), 0600);
    chmod(m_folder.Path().c_str(), 0755);
    const int result = test::RunUnprivileged([&] {
        const std::string outcome = ImportOutcome(closed + "/record.key");
        return outcome.find("Permission denied") != std::string::npos &&
                       outcome.find(closed + "/record.key") != std::string::npos
                   ? 0
                   : 1;
    });
    chmod(closed.c_str(), 0755);
    EXPECT_EQ(result, 0) << "reported as missing, not as a path that cannot be checked";
}

} // namespace
} // namespace zarn
