#include "cli/KeyInventory.h"
#include "cli/Command.h"
#include "cli/RecordFiles.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <sstream>
#include <sys/stat.h>

namespace zarn {
namespace {

using namespace std::chrono;
using test::TTemporaryFolder;

constexpr year_month_day kToday{year{2026} / December / 8};

// A record exported through the component, so that it imports with status 0.
std::string RecordLine(const std::string& owner, int index, const std::string& expDate,
                       const std::string& modulus) {
    TTemporaryFolder folder;
    TZarnPublicKey key;
    key.SetPublicKeyOwnerId(owner);
    key.SetPublicKeyIndex(index);
    key.SetPublicKeyExpDate(expDate);
    key.SetHashAlgorithmIndicator(1);
    key.SetPublicKeyAlgorithmIndicator(1);
    key.SetPublicKeyModulus(modulus);
    key.SetPublicKeyExponent("03");
    key.SetPublicKeyModulusLength(static_cast<std::int32_t>(modulus.size() / 2));
    key.SetPublicKeyExponentLength(1);
    EXPECT_EQ(ExportRecordFile(key, folder.File("r.key"), false).Reimport.Status, 0);
    return test::ReadFile(folder.File("r.key"));
}

// The records the cases share, made once.
struct TLines {
    std::string Valid = RecordLine("1111111111", 1, "1229", "ABCD");
    std::string Expired = RecordLine("2222222222", 1, "1126", "ABCD");
    std::string ThisMonth = RecordLine("3333333333", 1, "1226", "ABCD"); // valid through 2026-12-31
    std::string NextMonth = RecordLine("4444444444", 1, "0127", "ABCD"); // through 2027-01-31
    std::string OtherKey = RecordLine("1111111111", 1, "1229", "ABCF");
    std::string OtherDate = RecordLine("1111111111", 1, "1230", "ABCD");
    std::string BadMonth = RecordLine("5555555555", 1, "1329", "ABCD");
};

const TLines& Lines() {
    static const TLines lines;
    return lines;
}

struct TCase {
    const char* Name;
    std::map<std::string, std::string> Files; // name -> content ("FIFO" for a named pipe)
    TInventoryOptions Options;
    int Exit;
    std::map<std::string, std::string> Findings; // name -> FINDINGS column
};

std::string Damaged(std::string line) {
    line[line.size() - 3] = line[line.size() - 3] == '0' ? '1' : '0';
    return line;
}

TInventoryOptions Within(int days) {
    TInventoryOptions options;
    options.ExpiresWithinDays = days;
    return options;
}

TEST(KeyInventory, FindingsAndExitStatus) {
    const TLines& L = Lines();
    const TCase cases[] = {
        {"valid", {{"a.key", L.Valid}}, {}, kExitSuccess, {{"a.key", "-"}}},
        {"expired",
         {{"a.key", L.Valid}, {"b.key", L.Expired}},
         {},
         kExitKeysExpiring,
         {{"b.key", "expired"}}},
        {"no window", {{"c.key", L.NextMonth}}, {}, kExitSuccess, {{"c.key", "-"}}},
        {"window reaches the end",
         {{"c.key", L.NextMonth}},
         Within(54),
         kExitKeysExpiring,
         {{"c.key", "expires in 54 days"}}},
        {"window ends a day early", {{"c.key", L.NextMonth}}, Within(53), kExitSuccess, {{"c.key", "-"}}},
        {"this month",
         {{"d.key", L.ThisMonth}},
         Within(23),
         kExitKeysExpiring,
         {{"d.key", "expires in 23 days"}}},
        {"not a month", {{"e.key", L.BadMonth}}, Within(9999), kExitSuccess, {{"e.key", "-"}}},
        {"another key",
         {{"a.key", L.Valid}, {"f.key", L.OtherKey}},
         {},
         kExitStatusNotZero,
         {{"a.key", "conflicts with DIR/f.key (another key)"},
          {"f.key", "conflicts with DIR/a.key (another key)"}}},
        {"same key, other date",
         {{"a.key", L.Valid}, {"g.key", L.OtherDate}},
         {},
         kExitStatusNotZero,
         {{"g.key", "conflicts with DIR/a.key (same key, other fields)"}}},
        {"copies",
         {{"a.key", L.Valid}, {"h.key", L.Valid}, {"i.key", L.Valid}},
         {},
         kExitSuccess,
         {{"a.key", "duplicate of DIR/h.key and 1 more"}, {"i.key", "duplicate of DIR/a.key and 1 more"}}},
        {"damaged",
         {{"a.key", L.Valid}, {"j.key", Damaged(L.Valid)}},
         {},
         kExitStatusNotZero,
         {{"j.key", "-"}}},
        {"not a key", {{"k.txt", "notes\n"}}, {}, kExitStatusNotZero, {{"k.txt", "-"}}},
        {"damaged wins over expired",
         {{"b.key", L.Expired}, {"k.txt", "notes\n"}},
         {},
         kExitStatusNotZero,
         {{"b.key", "expired"}}},
        {"unreadable", {{"a.key", L.Valid}, {"l.pipe", "FIFO"}}, {}, kExitRaisedError, {{"a.key", "-"}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTemporaryFolder folder;
        for (const auto& [name, content] : c.Files) {
            if (content == "FIFO")
                ASSERT_EQ(mkfifo(folder.File(name).c_str(), 0600), 0);
            else
                test::WriteFile(folder.File(name), content);
        }
        std::ostringstream out, err;
        EXPECT_EQ(CheckKeyInventory({folder.Path()}, c.Options, kToday, out, err), c.Exit)
            << out.str() << err.str();
        for (const auto& [name, findings] : c.Findings) {
            std::string expected = findings;
            for (std::size_t at; (at = expected.find("DIR")) != std::string::npos;)
                expected.replace(at, 3, folder.Path());
            const std::string table = out.str();
            const std::size_t row = table.find("\n" + folder.File(name) + " ");
            ASSERT_NE(row, std::string::npos) << table;
            const std::string line = table.substr(row + 1, table.find('\n', row + 1) - row - 1);
            EXPECT_NE(line.find("  " + expected + "  "), std::string::npos) << line;
        }
    }
}

TEST(KeyInventory, TableAndJsonDescribeEachFile) {
    const TLines& L = Lines();
    TTemporaryFolder folder;
    test::WriteFile(folder.File("a.key"), L.Expired);
    test::WriteFile(folder.File("b.txt"), "notes\n");
    mkdir(folder.File("sub").c_str(), 0700);
    test::WriteFile(folder.File("sub/c.key"), L.NextMonth);
    std::ostringstream out, err;
    EXPECT_EQ(CheckKeyInventory({folder.Path()}, {}, kToday, out, err), kExitStatusNotZero);
    const std::string a = folder.File("a.key"), b = folder.File("b.txt");
    const std::string pad(a.size() - b.size(), ' ');
    EXPECT_EQ(
        out.str(),
        "FILE" + std::string(a.size() - 4, ' ') +
            "  OWNER       INDEX  EXPIRES     BITS  STATUS  FINDINGS  MESSAGE\n" + a +
            "  2222222222  1      2026-11-30  16    0       expired   Import successfully completed!\n" + b +
            pad + "  -           -      -           -     1       -         No key found\n");
    EXPECT_EQ(err.str(), "zarnkey: note: \"" + folder.File("sub") +
                             "\" is a folder and was not read; add --recursive\n");

    TInventoryOptions options;
    options.Recursive = true;
    options.Json = true;
    options.ExpiresWithinDays = 60;
    std::ostringstream json, none;
    EXPECT_EQ(CheckKeyInventory({folder.Path()}, options, kToday, json, none), kExitStatusNotZero);
    const nlohmann::json list = nlohmann::json::parse(json.str());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]["FileName"], a);
    EXPECT_EQ(list[0]["ExpiresOn"], "2026-11-30");
    EXPECT_EQ(list[0]["Marks"], nlohmann::json::array({"expired"}));
    EXPECT_EQ(list[1]["status"], 1);
    EXPECT_EQ(list[1]["Marks"], nlohmann::json::array());
    EXPECT_EQ(list[2]["FileName"], folder.File("sub/c.key"));
    EXPECT_EQ(list[2]["KeySizeBits"], 16);
    EXPECT_EQ(list[2]["Marks"], nlohmann::json::array({"expires in 54 days"}));
}

} // namespace
} // namespace zarn
