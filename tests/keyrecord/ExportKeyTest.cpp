#include "encoding/UTHHexUtilities.h"
#include "keyrecord/ZarnPublicKey.h"
#include "platform/AtomicWriter.h"
#include "platform/Errors.h"
#include "platform/FileDialogs.h"
#include "platform/Files.h"
#include "tests/keyrecord/KeyFileFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace zarn {
namespace {

using test::ReadFile;
using test::TTemporaryFolder;
using test::WriteFile;

// The worked example: owner 1234567890, index 5, date 1212, indicators 1 and 1, modulus AB CD,
// exponent 03.
void SetExample(TZarnPublicKey& key) {
    key.SetPublicKeyOwnerId("1234567890");
    key.SetPublicKeyIndex(5);
    key.SetPublicKeyExpDate("1212");
    key.SetHashAlgorithmIndicator(1);
    key.SetPublicKeyAlgorithmIndicator(1);
    key.SetPublicKeyModulusLength(2);
    key.SetPublicKeyExponentLength(1);
    key.SetPublicKeyModulus("ABCD");
    key.SetPublicKeyExponent("03");
}

std::string HashHex(const std::string& recordHex) {
    return BytesToHex(test::OpenSslSha1(HexToBytes(recordHex)));
}

class ExportKey : public ::testing::Test {
protected:
    void SetUp() override { m_key.SetFileDialogs(&m_dialogs); }

    // Exports through a save dialog that answers `name` in the test folder.
    std::int32_t Export(const std::string& name = "out.key") {
        m_dialogs.Choose(m_folder.File(name));
        return m_key.ExportKey(m_message);
    }
    // Imports `name` from the test folder into a fresh component.
    std::int32_t Reimport(TZarnPublicKey& into, const std::string& name = "out.key") {
        into.SetFileName(m_folder.File(name));
        std::string message;
        return into.ImportKey(message);
    }

    TTemporaryFolder m_folder;
    TScriptedFileDialogs m_dialogs;
    TZarnPublicKey m_key;
    std::string m_message;
};

TEST_F(ExportKey, WorkedExampleByteForByte) {
    SetExample(m_key);
    m_key.SetFileName(m_folder.File("earlier.key"));
    EXPECT_EQ(Export(), 0);
    EXPECT_EQ(m_message, "Export successfully completed!");
    const std::string record = "123456789005121201010201ABCD03";
    EXPECT_EQ(ReadFile(m_folder.File("out.key")), record + HashHex(record) + "\r\n");
    EXPECT_EQ(m_key.GetHashResult(), HashHex(record));
    EXPECT_EQ(m_key.GetFileName(), m_folder.File("out.key"));
    ASSERT_EQ(m_dialogs.Asked.size(), 1u);
    EXPECT_EQ(m_dialogs.Asked[0].Kind, TScriptedFileDialogs::fdSave);
    EXPECT_EQ(m_dialogs.Asked[0].InitialFolder, m_folder.Path());
    EXPECT_TRUE(m_dialogs.Asked[0].OverwritePrompt);

    TZarnPublicKey back;
    EXPECT_EQ(Reimport(back), 0);
    EXPECT_EQ(back.GetPublicKeyOwnerId(), "1234567890");
    EXPECT_EQ(back.GetPublicKeyIndex(), 5);
    EXPECT_EQ(back.GetPublicKeyExpDate(), "1212");
    EXPECT_EQ(back.GetPublicKeyModulus(), "ABCD");
    EXPECT_EQ(back.GetPublicKeyExponent(), "03");
    EXPECT_EQ(back.GetHashResult(), m_key.GetHashResult());
}

TEST_F(ExportKey, ExpectedHashResultIsNeverChanged) {
    SetExample(m_key);
    m_key.SetExpectedHashResult("from the last import");
    EXPECT_EQ(Export(), 0);
    EXPECT_EQ(m_key.GetExpectedHashResult(), "from the last import");
}

TEST_F(ExportKey, OwnerIdentifierText) {
    struct Row {
        std::string ownerId;
        std::string written;
    };
    const Row rows[] = {
        {" 12 34\xA0"
         "56 7890 ",
         "1234567890"},                 // blanks and no-break spaces go
        {"123456789012", "1234567890"}, // cut to 10
        {"123456789", "123456789"},     // shorter is written whole
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ownerId);
        SetExample(m_key);
        m_key.SetPublicKeyOwnerId(row.ownerId);
        EXPECT_EQ(Export(), 0);
        const std::string record = row.written + "05121201010201ABCD03";
        EXPECT_EQ(ReadFile(m_folder.File("out.key")), record + HashHex(record) + "\r\n");
    }
    // Nine digits shift every later field: the file no longer imports; with the F back it does.
    TZarnPublicKey back;
    const std::int32_t status = Reimport(back);
    EXPECT_GE(status, 109);
    EXPECT_LE(status, 112);
    m_key.SetPublicKeyOwnerId("123456789F");
    EXPECT_EQ(Export(), 0);
    EXPECT_EQ(Reimport(back), 0);
    EXPECT_EQ(back.GetPublicKeyOwnerId(), "123456789");
}

TEST_F(ExportKey, OneByteFieldsAreTwoHexDigitsOfTheLowByte) {
    struct Row {
        std::int32_t value;
        const char* written;
    };
    const Row rows[] = {{0, "00"},   {5, "05"},   {9, "09"},   {10, "0A"}, {12, "0C"},
                        {255, "FF"}, {256, "00"}, {300, "2C"}, {-1, "FF"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value);
        SetExample(m_key);
        m_key.SetPublicKeyIndex(row.value);
        m_key.SetPublicKeyAlgorithmIndicator(row.value);
        EXPECT_EQ(Export(), 0);
        const std::string record =
            std::string("1234567890") + row.written + "121201" + row.written + "0201ABCD03";
        EXPECT_EQ(ReadFile(m_folder.File("out.key")), record + HashHex(record) + "\r\n");
    }
    // Every byte value of the index and the indicators survives an export and an import.
    for (std::int32_t value = 0; value < 256; ++value) {
        SetExample(m_key);
        m_key.SetPublicKeyIndex(value);
        m_key.SetPublicKeyAlgorithmIndicator(255 - value);
        ASSERT_EQ(Export(), 0);
        TZarnPublicKey back;
        ASSERT_EQ(Reimport(back), 0) << value;
        EXPECT_EQ(back.GetPublicKeyIndex(), value);
        EXPECT_EQ(back.GetPublicKeyAlgorithmIndicator(), 255 - value);
    }
}

TEST_F(ExportKey, LengthFieldsAndLargeModulus) {
    SetExample(m_key);
    const std::string modulus = BytesToHex(std::string(256, '\x81'));
    m_key.SetPublicKeyModulus(modulus);
    m_key.SetPublicKeyModulusLength(256);
    EXPECT_EQ(Export(), 0);
    const std::string record = "1234567890051212010100"
                               "01" +
                               modulus + "03";
    EXPECT_EQ(ReadFile(m_folder.File("out.key")), record + HashHex(record) + "\r\n");
}

TEST_F(ExportKey, HashIndicatorOtherThanOne) {
    SetExample(m_key);
    m_key.SetHashAlgorithmIndicator(2);
    m_key.SetHashResult("kept");
    EXPECT_EQ(Export(), 112);
    EXPECT_EQ(m_message, "Hash algorithm indicator not 1, hash not set");
    EXPECT_EQ(ReadFile(m_folder.File("out.key")), "123456789005121202010201ABCD03\r\n");
    EXPECT_EQ(m_key.GetHashResult(), "kept");
    TZarnPublicKey back;
    std::string message;
    back.SetFileName(m_folder.File("out.key"));
    EXPECT_EQ(back.ImportKey(message), 111);
    EXPECT_EQ(message, "Incorrect hash result");
}

TEST_F(ExportKey, BlanksInTheDateAreNotHashed) {
    // The hash covers exactly the written bytes, so a date typed with a blank still verifies.
    SetExample(m_key);
    m_key.SetPublicKeyExpDate("12 12");
    m_key.SetPublicKeyModulus("AB CD");
    EXPECT_EQ(Export(), 0);
    const std::string record = "123456789005121201010201ABCD03";
    EXPECT_EQ(ReadFile(m_folder.File("out.key")), record + HashHex(record) + "\r\n");
    TZarnPublicKey back;
    EXPECT_EQ(Reimport(back), 0);
}

TEST_F(ExportKey, ValidatesNothing) {
    SetExample(m_key);
    m_key.SetPublicKeyExpDate("12/2030");
    m_key.SetPublicKeyModulus("xyz");
    m_key.SetPublicKeyModulusLength(7);
    EXPECT_EQ(Export(), 0);
    const std::string record = "123456789005"
                               "12/2030"
                               "010107"
                               "01"
                               "xyz"
                               "03";
    EXPECT_EQ(ReadFile(m_folder.File("out.key")), record + HashHex(record) + "\r\n");
}

TEST_F(ExportKey, CancelLeavesEverythingAsItWas) {
    WriteFile(m_folder.File("out.key"), "previous content\r\n");
    SetExample(m_key);
    m_key.SetFileName(m_folder.File("out.key"));
    m_key.SetHashResult("old hash");
    m_dialogs.Cancel();
    EXPECT_EQ(m_key.ExportKey(m_message), 1);
    EXPECT_EQ(m_message, "Export aborted during file dialog");
    EXPECT_EQ(ReadFile(m_folder.File("out.key")), "previous content\r\n");
    EXPECT_EQ(m_key.GetHashResult(), "old hash");
    EXPECT_EQ(m_key.GetFileName(), m_folder.File("out.key"));
}

TEST_F(ExportKey, ExportingTwiceReplacesTheFile) {
    WriteFile(m_folder.File("out.key"), "line one\r\nline two\r\nline three\r\n");
    SetExample(m_key);
    EXPECT_EQ(Export(), 0);
    m_key.SetPublicKeyIndex(6);
    EXPECT_EQ(Export(), 0);
    const std::string content = ReadFile(m_folder.File("out.key"));
    EXPECT_EQ(content.find("\r\n"), content.size() - 2) << "one line only";
    EXPECT_EQ(content.substr(10, 2), "06");
}

TEST_F(ExportKey, FailedWriteRaisesAndKeepsTheOldFile) {
    const std::string folder = m_folder.File("locked");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string fileName = folder + "/out.key";
    WriteFile(fileName, "old key line\r\n");
    chmod(folder.c_str(), 0555);
    const int result = test::RunUnprivileged([&] {
        TZarnPublicKey key;
        SetExample(key);
        TScriptedFileDialogs dialogs;
        dialogs.Choose(fileName);
        key.SetFileDialogs(&dialogs);
        std::string message;
        try {
            key.ExportKey(message);
        } catch (const EInOutError& error) {
            return error.Message().find(fileName) != std::string::npos ? 0 : 2;
        }
        return 1;
    });
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(fileName), "old key line\r\n");
}

TEST_F(ExportKey, RandomWellFormedRecordsRoundTrip) {
    SCOPED_TRACE(test::SeedTrace());
    auto generator = test::SeededGenerator(31);
    const auto digits = [&](std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text.push_back(static_cast<char>('0' + generator() % 10));
        return text;
    };
    for (int round = 0; round < 150; ++round) {
        const std::string modulus = BytesToHex(test::RandomBytes(generator, generator() % 256));
        const std::string exponent = BytesToHex(test::RandomBytes(generator, generator() % 256));
        TZarnPublicKey key;
        key.SetPublicKeyOwnerId(digits(10));
        key.SetPublicKeyIndex(static_cast<std::int32_t>(generator() % 256));
        key.SetPublicKeyExpDate(digits(4));
        key.SetHashAlgorithmIndicator(1);
        key.SetPublicKeyAlgorithmIndicator(static_cast<std::int32_t>(generator() % 256));
        key.SetPublicKeyModulusLength(static_cast<std::int32_t>(modulus.size() / 2));
        key.SetPublicKeyExponentLength(static_cast<std::int32_t>(exponent.size() / 2));
        key.SetPublicKeyModulus(modulus);
        key.SetPublicKeyExponent(exponent);
        TScriptedFileDialogs dialogs;
        dialogs.Choose(m_folder.File("round.key"));
        key.SetFileDialogs(&dialogs);
        std::string message;
        ASSERT_EQ(key.ExportKey(message), 0);
        TZarnPublicKey back;
        ASSERT_EQ(Reimport(back, "round.key"), 0) << "round " << round;
        EXPECT_EQ(back.GetPublicKeyOwnerId(), key.GetPublicKeyOwnerId());
        EXPECT_EQ(back.GetPublicKeyIndex(), key.GetPublicKeyIndex());
        EXPECT_EQ(back.GetPublicKeyExpDate(), key.GetPublicKeyExpDate());
        EXPECT_EQ(back.GetPublicKeyAlgorithmIndicator(), key.GetPublicKeyAlgorithmIndicator());
        EXPECT_EQ(back.GetPublicKeyModulusLength(), key.GetPublicKeyModulusLength());
        EXPECT_EQ(back.GetPublicKeyModulus(), modulus);
        EXPECT_EQ(back.GetPublicKeyExponent(), exponent);
        EXPECT_EQ(back.GetHashResult(), key.GetHashResult());
    }
}

// Save dialogs whose answer is followed at once by another program creating the chosen file.
class TRacedSaveDialogs : public TScriptedFileDialogs {
public:
    std::optional<TSaveChoice> ExecuteSaveDialogForWrite(const std::string& initialFolder,
                                                         bool overwritePrompt) override {
        std::optional<TSaveChoice> choice =
            IFileDialogs::ExecuteSaveDialogForWrite(initialFolder, overwritePrompt);
        if (choice)
            WriteFile(choice->FileName, "written by another program\r\n");
        return choice;
    }
};

TEST_F(ExportKey, FileThatAppearsAfterTheDialogIsNotReplaced) {
    SetExample(m_key);
    TRacedSaveDialogs raced;
    m_key.SetFileDialogs(&raced);
    raced.Choose(m_folder.File("new.key"));
    try {
        m_key.ExportKey(m_message);
        FAIL() << "the export replaced a file it was not asked to replace";
    } catch (const EFileExists& error) {
        EXPECT_NE(error.Message().find(m_folder.File("new.key")), std::string::npos) << error.Message();
        EXPECT_NE(error.Message().find("File exists"), std::string::npos) << error.Message();
    }
    EXPECT_EQ(ReadFile(m_folder.File("new.key")), "written by another program\r\n");

    // Chosen while it existed, so replacing it was confirmed in the dialog's question.
    raced.Choose(m_folder.File("new.key"));
    EXPECT_EQ(m_key.ExportKey(m_message), 0);
    EXPECT_EQ(ReadFile(m_folder.File("new.key")).substr(0, 30), "123456789005121201010201ABCD03");
}

} // namespace
} // namespace zarn
