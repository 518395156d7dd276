// What `zarnkey --help` lists must stand in the manual page and in the shell completion, so that
// neither falls behind the command line.
#include "cli/Version.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>

namespace zarn {
namespace {

using test::RunZarnKeyWith;

// The lines of the section `title` ("Options:", "Subcommands:") of a help text.
std::vector<std::string> SectionLines(const std::string& help, const std::string& title) {
    std::vector<std::string> lines;
    std::istringstream in(help);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (line == title)
            inSection = true;
        else if (line.empty() || line[0] != ' ')
            inSection = false;
        else if (inSection)
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Commands() {
    std::vector<std::string> commands;
    for (const std::string& line : SectionLines(RunZarnKeyWith({"--help"}).Out, "Subcommands:"))
        if (line.rfind("   ", 0) != 0) // not a wrapped description
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    return commands;
}

// Every option name of the help text of `args`: "-o,--out TEXT REQUIRED" gives -o and --out.
std::set<std::string> OptionNames(const std::vector<std::string>& args) {
    std::set<std::string> names;
    for (const std::string& line : SectionLines(RunZarnKeyWith(args).Out, "Options:")) {
        if (line.rfind("  -", 0) != 0)
            continue;
        std::istringstream flags(line.substr(2, line.find(' ', 2) - 2));
        for (std::string name; std::getline(flags, name, ',');)
            names.insert(name);
    }
    return names;
}

// Whether `word` stands in `text` as a word of its own: not inside a longer option or name.
bool HasWord(const std::string& text, const std::string& word) {
    const auto partOfAName = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; };
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const std::size_t end = at + word.size();
        if ((at == 0 || !partOfAName(text[at - 1])) && (end == text.size() || !partOfAName(text[end])))
            return true;
    }
    return false;
}

TEST(ManualPageAndCompletion, ListEveryCommandAndOption) {
    const std::string page = test::ReadFile(ZARNKEY_MANUAL_PAGE);
    const std::string completion = test::ReadFile(ZARNKEY_COMPLETION);
    const std::vector<std::string> commands = Commands();
    ASSERT_GE(commands.size(), 5u); // show, check, export, genrsa, help at least

    std::set<std::string> topLevel = OptionNames({"--help"});
    EXPECT_TRUE(topLevel.count("--version"));
    for (const std::string& option : topLevel) {
        EXPECT_TRUE(HasWord(page, option)) << "zarnkey " << option << " is not in the manual page";
        EXPECT_TRUE(HasWord(completion, option)) << "zarnkey " << option << " is not completed";
    }
    for (const std::string& command : commands) {
        // Each command opens its own entry in the page's list of commands.
        EXPECT_NE(page.find("\n*" + command + "*"), std::string::npos)
            << "zarnkey " << command << " has no entry in the manual page";
        EXPECT_TRUE(HasWord(completion, command)) << "zarnkey " << command << " is not completed";
        const std::set<std::string> options = OptionNames({command, "--help"});
        EXPECT_FALSE(options.empty()) << command;
        for (const std::string& option : options) {
            EXPECT_TRUE(HasWord(page, option))
                << "zarnkey " << command << " " << option << " is not in the manual page";
            EXPECT_TRUE(HasWord(completion, option))
                << "zarnkey " << command << " " << option << " is not completed";
        }
    }
}

TEST(ManualPageAndCompletion, WordMatchingIsExact) {
    EXPECT_TRUE(HasWord("*--out* _FILE_", "--out"));
    EXPECT_TRUE(HasWord("*-o*, *--out*", "-o"));
    EXPECT_FALSE(HasWord("*--outer*", "--out"));
    EXPECT_FALSE(HasWord("*--exponent-length*", "--exponent"));
    EXPECT_FALSE(HasWord("--from-json", "-o"));
}

// The page as man shows it at 80 columns: a name broken at a line end would be copied wrong, so no
// line may end in a hyphen; the footer names the version.
TEST(ManualPageAndCompletion, NoNameIsBrokenAtALineEnd) {
    FILE* pipe = popen(
        "MANWIDTH=80 LC_ALL=C.UTF-8 MANROFFSEQ='' man -E UTF-8 -l " ZARNKEY_BUILT_MANUAL_PAGE " 2>&1", "r");
    ASSERT_NE(pipe, nullptr);
    std::string page;
    char buffer[4096];
    while (const std::size_t count = fread(buffer, 1, sizeof buffer, pipe))
        page.append(buffer, count);
    EXPECT_EQ(pclose(pipe), 0) << page;
    std::istringstream lines(page);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        const bool hyphenated =
            line.size() >= 3 && (line.back() == '-' || line.compare(line.size() - 3, 3, "\u2010") == 0);
        EXPECT_FALSE(hyphenated) << line;
    }
    EXPECT_GT(count, 300u) << page;
    EXPECT_NE(page.rfind(std::string("zarn-key-importer ") + kProductVersion), std::string::npos);
}

TEST(ZarnKeyUsage, VersionAndHelpCommand) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, std::vector<std::string>{"--version", "show"}}) {
        const test::TRun version = RunZarnKeyWith(args);
        EXPECT_EQ(version.Exit, 0) << version.Err;
        EXPECT_EQ(version.Out, std::string("zarnkey ") + kProductVersion + "\n");
    }
    EXPECT_EQ(RunZarnKeyWith({"help"}).Out, RunZarnKeyWith({"--help"}).Out);
    EXPECT_EQ(RunZarnKeyWith({"help"}).Exit, 0);
    for (const std::string& command : Commands()) {
        const test::TRun help = RunZarnKeyWith({"help", command});
        EXPECT_EQ(help.Exit, 0) << command;
        EXPECT_EQ(help.Out, RunZarnKeyWith({command, "--help"}).Out) << command;
        EXPECT_NE(help.Out.find(command), std::string::npos);
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"help", "frobnicate"}, std::vector<std::string>{"help", "show", "show"}}) {
        const test::TRun run = RunZarnKeyWith(args);
        EXPECT_EQ(run.Exit, kExitUsage) << ::testing::PrintToString(args);
        EXPECT_TRUE(run.Out.empty());
    }
}

} // namespace
} // namespace zarn
