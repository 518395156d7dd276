#include "cli/ZarnKeyCommandLine.h"
#include "cli/KeyInventory.h"
#include "cli/KeyRecordJson.h"
#include "encoding/UTHHexUtilities.h"
#include "platform/Errors.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/sha.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace zarn {
namespace {

using test::ReadFile;
using test::TTemporaryFolder;
using test::WriteFile;

using test::RunZarnKeyWith;
using test::TRun;

std::string Sha1Hex(const std::string& recordHex) {
    const std::string bytes = HexToBytes(recordHex);
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return BytesToHex(std::string(reinterpret_cast<const char*>(digest), SHA_DIGEST_LENGTH));
}

const std::string kExampleRecord = "123456789F05121201010201ABCD03";
const std::string kExampleLine = kExampleRecord + Sha1Hex(kExampleRecord);

std::vector<std::string> ExampleExportArgs(const std::string& out) {
    return {"export", "--out",      out,    "--owner-id",       "1234567890", "--index",
            "5",      "--exp-date", "1212", "--hash-indicator", "1",          "--algorithm-indicator",
            "1",      "--modulus",  "ABCD", "--exponent",       "03"};
}

TEST(ZarnKeyUsage, HelpAndUsageErrors) {
    const TRun help = RunZarnKeyWith({"--help"});
    EXPECT_EQ(help.Exit, 0);
    for (const char* word : {"show", "check", "export"})
        EXPECT_NE(help.Out.find(word), std::string::npos) << word;
    EXPECT_EQ(RunZarnKeyWith({"export", "--help"}).Exit, 0);
    EXPECT_NE(RunZarnKeyWith({"export", "--help"}).Out.find("--from-json"), std::string::npos);
    const std::vector<std::vector<std::string>> usageErrors = {
        {},
        {"show"},
        {"show", "a.key", "b.key"},
        {"check"},
        {"frobnicate"},
        {"export", "--owner-id", "1"},
        {"export", "--out", "x.key", "--owner-id", "1"},
        {"export", "--out", "x.key", "--from-json", "x.json", "--index", "1"},
        {"show", "--bogus", "a.key"},
    };
    for (const auto& args : usageErrors) {
        const TRun run = RunZarnKeyWith(args);
        EXPECT_EQ(run.Exit, kExitUsage) << ::testing::PrintToString(args);
        EXPECT_FALSE(run.Err.empty());
    }
}

TEST(ZarnKeyShow, PrintsStatusMessageAndEveryProperty) {
    TTemporaryFolder folder;
    WriteFile(folder.File("a.key"), "header\r\n" + kExampleLine + "\r\n");
    const TRun run = RunZarnKeyWith({"show", folder.File("a.key")});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_NE(run.Out.find("Status: 0\nMessage: Import successfully completed!\n"), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("PublicKeyOwnerId: 123456789\n"), std::string::npos);
    EXPECT_NE(run.Out.find("PublicKeyModulus: ABCD\n"), std::string::npos);
    EXPECT_NE(run.Out.find("ExpectedHashResult: " + Sha1Hex(kExampleRecord) + "\n"), std::string::npos);

    const TRun missing = RunZarnKeyWith({"show", folder.File("missing.key")});
    EXPECT_EQ(missing.Exit, kExitStatusNotZero);
    EXPECT_NE(missing.Out.find("Message: File " + folder.File("missing.key") + " does not exist"),
              std::string::npos);

    WriteFile(folder.File("short.key"), kExampleLine.substr(0, 10));
    const TRun shortRun = RunZarnKeyWith({"show", "--json", folder.File("short.key")});
    EXPECT_EQ(shortRun.Exit, kExitStatusNotZero);
    const auto object = nlohmann::json::parse(shortRun.Out);
    EXPECT_EQ(object["status"], 102);
    EXPECT_EQ(object["message"], "Incorrect public key index");
    EXPECT_EQ(object["PublicKeyOwnerId"], "123456789");
    EXPECT_EQ(object["PublicKeyIndex"], 0);
}

TEST(ZarnKeyShow, JsonHoldsEveryPropertyWithItsType) {
    TTemporaryFolder folder;
    WriteFile(folder.File("a.key"), kExampleLine);
    const TRun run = RunZarnKeyWith({"show", folder.File("a.key"), "--json"});
    ASSERT_EQ(run.Exit, 0) << run.Err;
    const auto object = nlohmann::json::parse(run.Out);
    EXPECT_EQ(object["status"], 0);
    EXPECT_EQ(object["message"], "Import successfully completed!");
    EXPECT_EQ(object["FileName"], folder.File("a.key"));
    EXPECT_EQ(object["PublicKeyOwnerId"], "123456789");
    EXPECT_EQ(object["PublicKeyIndex"], 5);
    EXPECT_EQ(object["PublicKeyExpDate"], "1212");
    EXPECT_EQ(object["HashAlgorithmIndicator"], 1);
    EXPECT_EQ(object["PublicKeyAlgorithmIndicator"], 1);
    EXPECT_EQ(object["PublicKeyModulusLength"], 2);
    EXPECT_EQ(object["PublicKeyExponentLength"], 1);
    EXPECT_EQ(object["PublicKeyModulus"], "ABCD");
    EXPECT_EQ(object["PublicKeyExponent"], "03");
    EXPECT_EQ(object["HashResult"], Sha1Hex(kExampleRecord));
    EXPECT_EQ(object["ExpectedHashResult"], Sha1Hex(kExampleRecord));
    // The key's facts follow every property, in an order that scripts may rely on.
    const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(run.Out);
    std::vector<std::string> keys;
    for (const auto& item : ordered.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{
                        "status", "message", "PublicKeyOwnerId", "PublicKeyIndex", "PublicKeyExpDate",
                        "HashAlgorithmIndicator", "PublicKeyAlgorithmIndicator", "PublicKeyModulusLength",
                        "PublicKeyExponentLength", "PublicKeyModulus", "PublicKeyExponent", "HashResult",
                        "ExpectedHashResult", "FileName", "ShowFileDialog", "KeySizeBits",
                        "KeyFingerprintSha256", "ExpiresOn"}));
    EXPECT_EQ(object["ExpiresOn"], "2012-12-31");
    EXPECT_EQ(object["KeySizeBits"], 16);

    // Without a modulus and an exponent there is no key to describe.
    WriteFile(folder.File("short.key"), kExampleLine.substr(0, 24));
    const TRun partial = RunZarnKeyWith({"show", folder.File("short.key"), "--json"});
    EXPECT_FALSE(nlohmann::json::parse(partial.Out).contains("KeySizeBits")) << partial.Out;
    EXPECT_EQ(RunZarnKeyWith({"show", folder.File("short.key")}).Out.find("KeySizeBits"), std::string::npos);
}

TEST(ZarnKeyShow, UnreadableFilesExitWithTheErrorText) {
    TTemporaryFolder folder;
    const TRun run = RunZarnKeyWith({"show", folder.Path()});
    EXPECT_EQ(run.Exit, kExitRaisedError);
    EXPECT_NE(run.Err.find(folder.Path()), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("Is a directory"), std::string::npos) << run.Err;

    WriteFile(folder.File("secret.key"), kExampleLine);
    chmod(folder.File("secret.key").c_str(), 0000);
    chmod(folder.Path().c_str(), 0755);
    const int result = test::RunUnprivileged([&] {
        const TRun denied = RunZarnKeyWith({"show", folder.File("secret.key")});
        return denied.Exit == kExitRaisedError && denied.Err.find("Permission denied") != std::string::npos
                   ? 0
                   : 1;
    });
    EXPECT_EQ(result, 0);
}

// The inventory itself is tested in KeyInventoryTest; this shows that its table and statuses reach
// the user of the command line.
TEST(ZarnKeyCheck, PrintsTheInventoryTable) {
    TTemporaryFolder folder;
    WriteFile(folder.File("good.key"), kExampleLine); // expired: its date is 1212
    WriteFile(folder.File("none.key"), "no key here\n");
    const TRun good = RunZarnKeyWith({"check", folder.File("good.key")});
    EXPECT_EQ(good.Exit, kExitKeysExpiring);
    EXPECT_NE(good.Out.find(folder.File("good.key") +
                            "  123456789  5      2012-12-31  16    0       expired   "
                            "Import successfully completed!\n"),
              std::string::npos)
        << good.Out;
    const TRun mixed =
        RunZarnKeyWith({"check", folder.File("good.key"), folder.File("none.key"), folder.File("gone.key")});
    EXPECT_EQ(mixed.Exit, kExitStatusNotZero);
    EXPECT_NE(mixed.Out.find("No key found\n"), std::string::npos) << mixed.Out;
    EXPECT_NE(mixed.Out.find("File " + folder.File("gone.key") + " does not exist\n"), std::string::npos);
    const TRun withFolder = RunZarnKeyWith({"check", folder.Path()});
    EXPECT_EQ(withFolder.Exit, kExitStatusNotZero);
    const std::size_t goodRow = withFolder.Out.find(folder.File("good.key"));
    const std::size_t noneRow = withFolder.Out.find(folder.File("none.key"));
    ASSERT_NE(noneRow, std::string::npos) << withFolder.Out;
    EXPECT_LT(goodRow, noneRow) << "the folder's files in name order";
}

TEST(ZarnKeyExport, WritesTheRecordFromOptions) {
    TTemporaryFolder folder;
    const TRun run = RunZarnKeyWith(ExampleExportArgs(folder.File("out.key")));
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    const std::string record = "123456789005121201010201ABCD03";
    EXPECT_EQ(ReadFile(folder.File("out.key")), record + Sha1Hex(record) + "\r\n");
    EXPECT_NE(run.Out.find("Message: Export successfully completed!"), std::string::npos);
    EXPECT_NE(run.Out.find("HashResult: " + Sha1Hex(record)), std::string::npos);
}

TEST(ZarnKeyExport, NumbersOutOfRangeOrNotNumbersAreUsageErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"--index", "300"},
        {"--index", "-1"},
        {"--index", "abc"},
        {"--hash-indicator", "256"},
        {"--algorithm-indicator", "one"},
        {"--modulus-length", "two"},
        {"--exponent-length", "1.5"},
    };
    for (const auto& [option, value] : cases) {
        TTemporaryFolder folder;
        std::vector<std::string> args = ExampleExportArgs(folder.File("out.key"));
        const auto given = std::find(args.begin(), args.end(), option);
        if (given != args.end())
            *(given + 1) = value;
        else
            args.insert(args.end(), {option, value});
        const TRun run = RunZarnKeyWith(args);
        EXPECT_EQ(run.Exit, kExitUsage) << option << " " << value;
        EXPECT_NE(run.Err.find(std::string(option) + ": '" + value + "' is not "), std::string::npos)
            << run.Err;
        EXPECT_FALSE(std::filesystem::exists(folder.File("out.key")));
    }
    TTemporaryFolder folder;
    std::vector<std::string> args = ExampleExportArgs(folder.File("out.key"));
    args[6] = "255";
    args.insert(args.end(), {"--modulus-length", "$10", "--allow-invalid"});
    EXPECT_EQ(RunZarnKeyWith(args).Exit, kExitSuccess) << "in range: written";
    EXPECT_TRUE(std::filesystem::exists(folder.File("out.key")));
}

TEST(ZarnKeyExport, ReplacesOnlyWithForce) {
    TTemporaryFolder folder;
    WriteFile(folder.File("out.key"), "keep me\r\n");
    const TRun refused = RunZarnKeyWith(ExampleExportArgs(folder.File("out.key")));
    EXPECT_EQ(refused.Exit, kExitStatusNotZero);
    // No dialog was shown, so the record's "aborted during file dialog" is not the reason given.
    EXPECT_EQ(refused.Out, "");
    EXPECT_EQ(refused.Err, "zarnkey: \"" + folder.File("out.key") + "\" exists; add --force to replace it\n");
    EXPECT_EQ(ReadFile(folder.File("out.key")), "keep me\r\n");
    std::vector<std::string> args = ExampleExportArgs(folder.File("out.key"));
    args.push_back("--force");
    EXPECT_EQ(RunZarnKeyWith(args).Exit, 0);
    EXPECT_NE(ReadFile(folder.File("out.key")), "keep me\r\n");
}

TEST(ZarnKeyExport, LengthsFollowTheTrimmedTextsUnlessGiven) {
    TTemporaryFolder folder;
    std::vector<std::string> args = ExampleExportArgs(folder.File("a.key"));
    args[14] = " ABC DE "; // an odd count of digits: the record does not import cleanly
    args.push_back("--allow-invalid");
    EXPECT_EQ(RunZarnKeyWith(args).Exit, 0);
    EXPECT_EQ(ReadFile(folder.File("a.key")).substr(0, 31), "123456789005121201010301ABCDE03");
    args = ExampleExportArgs(folder.File("b.key"));
    args.insert(args.end(), {"--modulus-length", "$10", "--exponent-length", "0", "--allow-invalid"});
    EXPECT_EQ(RunZarnKeyWith(args).Exit, 0);
    EXPECT_EQ(ReadFile(folder.File("b.key")).substr(20, 4), "1000");
}

TEST(ZarnKeyExport, ConversionErrorsAndWarnings) {
    TTemporaryFolder folder;
    std::vector<std::string> args = ExampleExportArgs(folder.File("a.key"));
    args[6] = "1 ";
    const TRun bad = RunZarnKeyWith(args);
    EXPECT_EQ(bad.Exit, kExitUsage);
    EXPECT_NE(bad.Err.find("--index: '1 ' is not a key index from 0 to 255"), std::string::npos) << bad.Err;
    EXPECT_FALSE(std::filesystem::exists(folder.File("a.key"))) << "nothing is written";

    // A record that would not import cleanly is refused with what its import would say, and nothing
    // is written; --allow-invalid writes it with a warning.
    args = ExampleExportArgs(folder.File("b.key"));
    args[4] = "123456789";
    const TRun refused = RunZarnKeyWith(args);
    EXPECT_EQ(refused.Exit, kExitStatusNotZero);
    EXPECT_EQ(refused.Out, "");
    EXPECT_NE(refused.Err.find("zarnkey: the record would not import cleanly: 1"), std::string::npos)
        << refused.Err;
    EXPECT_FALSE(std::filesystem::exists(folder.File("b.key")));
    args.push_back("--allow-invalid");
    const TRun shifted = RunZarnKeyWith(args);
    EXPECT_EQ(shifted.Exit, 0);
    EXPECT_NE(shifted.Err.find("warning: the written file does not import cleanly"), std::string::npos);

    args = ExampleExportArgs(folder.File("c.key"));
    args[10] = "2";
    args.push_back("--allow-invalid");
    const TRun noHash = RunZarnKeyWith(args);
    EXPECT_EQ(noHash.Exit, kExitStatusNotZero);
    EXPECT_NE(noHash.Out.find("Hash algorithm indicator not 1, hash not set"), std::string::npos);
    EXPECT_NE(noHash.Err.find("111 Incorrect hash result"), std::string::npos) << noHash.Err;
}

TEST(ZarnKeyExport, JsonRoundTripForRandomRecords) {
    SCOPED_TRACE(test::SeedTrace());
    TTemporaryFolder folder;
    auto generator = test::SeededGenerator(41);
    for (int round = 0; round < 60; ++round) {
        std::string owner;
        for (int i = 0; i < 10; ++i)
            owner.push_back(static_cast<char>('0' + generator() % 10));
        std::string record = owner + BytesToHex(test::RandomBytes(generator, 1)) + "0199" + "01" +
                             BytesToHex(test::RandomBytes(generator, 1));
        const std::string modulus = test::RandomBytes(generator, generator() % 256);
        const std::string exponent = test::RandomBytes(generator, 1 + generator() % 4);
        record += BytesToHex(std::string(1, static_cast<char>(modulus.size()))) +
                  BytesToHex(std::string(1, static_cast<char>(exponent.size()))) + BytesToHex(modulus) +
                  BytesToHex(exponent);
        std::string line = record + Sha1Hex(record);
        if (round % 2 == 1)
            for (char& c : line)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        WriteFile(folder.File("in.key"), "junk\n" + line + "\n");
        const TRun shown = RunZarnKeyWith({"show", "--json", folder.File("in.key")});
        ASSERT_EQ(shown.Exit, 0) << shown.Out;
        WriteFile(folder.File("in.json"), shown.Out);
        const TRun exported = RunZarnKeyWith(
            {"export", "--from-json", folder.File("in.json"), "--out", folder.File("out.key"), "--force"});
        ASSERT_EQ(exported.Exit, 0) << exported.Err;
        EXPECT_EQ(exported.Err, "");
        EXPECT_EQ(ReadFile(folder.File("out.key")), record + Sha1Hex(record) + "\r\n");
        const TRun again = RunZarnKeyWith({"show", "--json", folder.File("out.key")});
        auto first = nlohmann::json::parse(shown.Out);
        auto second = nlohmann::json::parse(again.Out);
        first.erase("FileName");
        second.erase("FileName");
        EXPECT_EQ(first, second) << "round " << round;
    }
}

TEST(ZarnKeyJson, TextsAreLatin1AndTypesAreChecked) {
    TZarnPublicKey key;
    KeyRecordFromJson(nlohmann::json::parse(R"({"PublicKeyOwnerId": "12\u00a034", "PublicKeyIndex": 7})"),
                      key);
    EXPECT_EQ(key.GetPublicKeyOwnerId(), "12\xA0"
                                         "34");
    EXPECT_EQ(key.GetPublicKeyIndex(), 7);
    EXPECT_EQ(KeyRecordToJson(key)["PublicKeyOwnerId"], "12\u00a0"
                                                        "34");
    EXPECT_EQ(KeyRecordToJson(key)["PublicKeyOwnerId"].dump(-1, ' ', true), "\"12\\u00a034\"");
    const char* bad[] = {
        R"({"PublicKeyOwnerId": "\u20ac"})", R"({"PublicKeyIndex": "5"})",
        R"({"PublicKeyIndex": 2147483648})", R"({"PublicKeyIndex": -2147483649})",
        R"({"PublicKeyModulus": 12})",       R"([1, 2])",
        R"({"PublicKeyIndex": 1.5})",
    };
    for (const char* text : bad) {
        TZarnPublicKey target;
        EXPECT_THROW(KeyRecordFromJson(nlohmann::json::parse(text), target), Exception) << text;
    }
    TTemporaryFolder folder;
    WriteFile(folder.File("bad.json"), "{ not json");
    const TRun run =
        RunZarnKeyWith({"export", "--from-json", folder.File("bad.json"), "--out", folder.File("x.key")});
    EXPECT_EQ(run.Exit, kExitRaisedError);
    EXPECT_NE(run.Err.find("is not a JSON text"), std::string::npos);

    // A file that cannot be read says why, a folder included.
    const std::pair<std::string, const char*> unreadable[] = {
        {folder.File("missing.json"), "No such file or directory"},
        {folder.Path(), "Is a directory"},
    };
    for (const auto& [fileName, reason] : unreadable) {
        const TRun failed =
            RunZarnKeyWith({"export", "--from-json", fileName, "--out", folder.File("x.key")});
        EXPECT_EQ(failed.Exit, kExitRaisedError) << fileName;
        EXPECT_NE(failed.Err.find("cannot open file \"" + fileName + "\": " + reason), std::string::npos)
            << failed.Err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.File("x.key")));
}

} // namespace
} // namespace zarn

namespace zarn {
namespace {

// What the user reads when something is wrong: one voice ("zarnkey: ", lower case, file names in
// double quotes) and the real problem named, with its exit status.
TEST(ZarnKeyMessages, NameTheRealProblemInOneStyle) {
    TTemporaryFolder folder;
    WriteFile(folder.File("a.key"), kExampleLine);
    WriteFile(folder.File("bad.key"), "no key\n");
    struct TRow {
        std::vector<std::string> Args;
        int Exit;
        std::string FirstLine; // of standard error
    };
    const TRow rows[] = {
        {{"frobnicate"},
         kExitUsage,
         "zarnkey: unknown command \"frobnicate\"; the commands are show, check, export, genrsa, pubkey and "
         "help"},
        {{"--verison"},
         kExitUsage,
         "zarnkey: unknown option \"--verison\"; the commands are show, check, export, genrsa, pubkey and "
         "help"},
        {{}, kExitUsage, "zarnkey: a command is required: show, check, export, genrsa, pubkey and help"},
        {{"show", "--frob", folder.File("a.key")},
         kExitUsage,
         "zarnkey: the following argument was not expected: --frob"},
        {{"export", "--out", folder.File("x.key"), "--from-key", "", "--owner-id", "1"},
         kExitUsage,
         "zarnkey: --from-key: the file name is empty"},
        {{"genrsa", "--private-out", folder.File("k.pem"), "--passphrase-file="},
         kExitUsage,
         "zarnkey: --passphrase-file: the file name is empty"},
        {{"show", ""}, kExitUsage, "zarnkey: file: the file name is empty"},
        {ExampleExportArgs(folder.File("a.key")), kExitStatusNotZero,
         "zarnkey: \"" + folder.File("a.key") + "\" exists; add --force to replace it"},
        {{"pubkey", "--out", "/dev/stdout", ZARN_SAMPLE_KEY},
         kExitRaisedError,
         "zarnkey: cannot write file \"/dev/stdout\": it is not a regular file (a pipe)"},
        {{"pubkey", folder.File("a.key")},
         kExitStatusNotZero,
         "zarnkey: the record in \"" + folder.File("a.key") +
             "\" is not a usable RSA key: its modulus has 16 bits, fewer than 512"},
        {{"pubkey", folder.File("bad.key")},
         kExitStatusNotZero,
         "zarnkey: \"" + folder.File("bad.key") +
             "\": status 1: No key found; only a record that imports with status 0 is converted"},
        {{"show", folder.Path()},
         kExitRaisedError,
         "zarnkey: cannot open file \"" + folder.Path() + "\": Is a directory"},
        {{"genrsa", "--attempts", "0"},
         kExitUsage,
         "zarnkey: --attempts: '0' is not a number of attempts from 1 to 1000"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.Args));
        // Standard output is a pipe here, as `zarnkey pubkey --out /dev/stdout FILE | head` has it.
        const TRun run = test::RunProgram(row.Args);
        EXPECT_EQ(run.Exit, row.Exit) << run.Err;
        EXPECT_EQ(run.Err.substr(0, run.Err.find('\n')), row.FirstLine);
    }
}

TEST(ZarnKeyMessages, HelpFitsEightyColumnsAndEndsWithItsOwnStatuses) {
    for (const char* command : {"", "show", "check", "export", "genrsa", "pubkey", "help"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {"--help"};
        if (*command != '\0')
            args.insert(args.begin(), command);
        const std::string help = RunZarnKeyWith(args).Out;
        std::istringstream lines(help);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << line;
        const std::size_t statuses = help.rfind("Exit status: 0 ");
        ASSERT_NE(statuses, std::string::npos) << help;
        EXPECT_EQ(help.find('\n', help.find(".\n", statuses)), help.size() - 1)
            << "the statuses end the help";
    }
}

} // namespace
} // namespace zarn

namespace zarn {
namespace {

// --from-json reads through the input files' opener: a pipe is read as its data comes, and a file
// larger than the limit is refused before it fills the memory.
TEST(ZarnKeyExport, JsonFromAPipeAndNoLargerThanTheLimit) {
    TTemporaryFolder folder;
    const TRun shown = RunZarnKeyWith({"show", "--json", ZARN_SAMPLE_KEY});
    ASSERT_EQ(shown.Exit, 0);
    const std::string fifo = folder.File("record.json");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = open(fifo.c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, shown.Out.data(), shown.Out.size()), static_cast<ssize_t>(shown.Out.size()));
        close(fd);
    });
    const TRun fromPipe = RunZarnKeyWith({"export", "--out", folder.File("out.key"), "--from-json", fifo});
    writer.join();
    EXPECT_EQ(fromPipe.Exit, 0) << fromPipe.Err;
    EXPECT_EQ(RunZarnKeyWith({"show", "--json", folder.File("out.key")}).Out.find("\"status\": 0"), 4u);

    WriteFile(folder.File("big.json"), std::string(16 * 1024 * 1024 + 1, ' '));
    const TRun big =
        RunZarnKeyWith({"export", "--out", folder.File("big.key"), "--from-json", folder.File("big.json")});
    EXPECT_EQ(big.Exit, kExitRaisedError);
    EXPECT_EQ(big.Err,
              "zarnkey: cannot read file \"" + folder.File("big.json") + "\": larger than 16777216 bytes\n");
}

} // namespace
} // namespace zarn
