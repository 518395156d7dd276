// zarnkey never reports success for a result it lost, refuses what it cannot serve, and reports
// files that are not what they seem with exit status 3 and the reason.
#include "cli/GenRsaCommand.h"
#include "cli/ZarnKeyCommandLine.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zarn {
namespace {

using test::ReadFile;
using test::RunProgram;
using test::RunZarnKeyWith;
using test::TRun;
using test::TTemporaryFolder;
using test::WriteFile;

std::vector<std::string> ExampleExport(const std::string& out) {
    return {"export", "--out",      out,    "--owner-id",       "1234567890", "--index",
            "5",      "--exp-date", "1212", "--hash-indicator", "1",          "--algorithm-indicator",
            "1",      "--modulus",  "ABCD", "--exponent",       "03"};
}

TEST(ZarnKeySafety, OutputThatCannotBeWrittenIsAFailure) {
    TTemporaryFolder folder;
    const std::string record = "123456789F05121201010201ABCD03";
    test::WriteFile(folder.File("a.key"), record + "\r\n");
    const std::vector<std::vector<std::string>> commands = {
        {"show", folder.File("a.key")},  {"show", "--json", folder.File("a.key")},
        {"check", folder.File("a.key")}, ExampleExport(folder.File("out.key")),
        {"genrsa", "--bytes", "16"},     {"--help"},
    };
    for (const auto& args : commands) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const TRun full = RunProgram(args, "/dev/full");
        EXPECT_EQ(full.Exit, kExitRaisedError);
        EXPECT_NE(full.Err.find("zarnkey: cannot write standard output: No space left on device\n"),
                  std::string::npos)
            << full.Err;
        EXPECT_EQ(full.Err.find("cannot write standard output", full.Err.find("standard output") + 1),
                  std::string::npos)
            << "said once";
        // The same command with somewhere to write gives its own status.
        EXPECT_NE(RunProgram(args, "/dev/null").Exit, kExitRaisedError);
    }
}

TEST(ZarnKeySafety, GenRsaAcceptsEvenLengthsFrom4To254) {
    for (const char* bytes : {"1", "2", "3", "5", "127", "253", "255", "256", "2147483647"}) {
        const TRun run = RunProgram({"genrsa", "--bytes", bytes});
        EXPECT_EQ(run.Exit, kExitUsage) << bytes;
        EXPECT_NE(run.Err.find("even number from 4 to 254"), std::string::npos) << run.Err;
    }
    std::string help = RunZarnKeyWith({"genrsa", "--help"}).Out;
    std::replace(help.begin(), help.end(), '\n', ' ');
    help.erase(std::unique(help.begin(), help.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
               help.end());
    EXPECT_NE(help.find("even number from 4 to 254"), std::string::npos) << help;
    const TRun smallest = RunZarnKeyWith({"genrsa", "--bytes", "4"});
    EXPECT_NE(smallest.Exit, kExitUsage) << smallest.Err;
    EXPECT_NE(smallest.Out.find("Outcome: "), std::string::npos);

    // The largest starts generating (a run there takes long, so the program is ended once it has).
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const char* argv[] = {ZARNKEY_PATH, "genrsa", "--bytes", "254", nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, ZARNKEY_PATH, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    std::string progress;
    char buffer[256];
    for (ssize_t got;
         progress.find("Runs: 1") == std::string::npos && (got = read(err[0], buffer, sizeof buffer)) > 0;)
        progress.append(buffer, static_cast<std::size_t>(got));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(err[0]);
    EXPECT_NE(progress.find("Runs: 1"), std::string::npos) << progress;
}

TEST(ZarnKeySafety, EmptyOptionValuesAndMissingOptions) {
    TTemporaryFolder folder;
    std::vector<std::string> args = ExampleExport(folder.File("a.key"));
    args[3] = "--owner-id=";
    args.erase(args.begin() + 4);
    args.push_back("--modulus-length=1");
    args.push_back("--allow-invalid");
    const TRun empty = RunZarnKeyWith(args);
    EXPECT_EQ(empty.Exit, 0) << empty.Err;
    // An empty owner identifier, and the modulus length 1 that follows it.
    EXPECT_EQ(ReadFile(folder.File("a.key")).substr(0, 20), "05121201010101ABCD03");

    const TRun missing = RunZarnKeyWith({"export", "--out", folder.File("b.key"), "--owner-id", "1"});
    EXPECT_EQ(missing.Exit, kExitUsage);
    EXPECT_NE(missing.Err.find("--index is required without --from-json\n"), std::string::npos)
        << missing.Err;
    EXPECT_EQ(missing.Err.find("is required without --from-json is required"), std::string::npos);
}

TEST(ZarnKeySafety, FilesThatAreNotWhatTheySeemExitWithTheReason) {
    TTemporaryFolder folder;
    ASSERT_EQ(mkfifo(folder.File("fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("loop", folder.File("loop").c_str()), 0);
    WriteFile(folder.File("a.key"), "x\r\n");
    ASSERT_EQ(link(folder.File("a.key").c_str(), folder.File("b.key").c_str()), 0);
    struct Row {
        std::vector<std::string> args;
        std::string reason;
    };
    std::vector<std::string> exportToFifo = ExampleExport(folder.File("fifo"));
    exportToFifo.push_back("--force");
    std::vector<std::string> exportToLink = ExampleExport(folder.File("b.key"));
    exportToLink.push_back("--force");
    const Row rows[] = {
        {{"show", folder.File("fifo")}, "not a regular file"},
        {{"show", "/dev/zero"}, "not a regular file"},
        {{"show", folder.File("loop")}, "Too many levels of symbolic links"},
        {{"check", folder.File("loop")}, "Too many levels of symbolic links"},
        {exportToFifo, "not a regular file"},
        {exportToLink, "2 hard links"},
    };
    for (const Row& row : rows) {
        const TRun run = RunProgram(row.args);
        EXPECT_EQ(run.Exit, kExitRaisedError) << ::testing::PrintToString(row.args);
        EXPECT_NE(run.Err.find(row.reason), std::string::npos) << run.Err;
    }
    struct stat info {};
    ASSERT_EQ(lstat(folder.File("fifo").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(ReadFile(folder.File("b.key")), "x\r\n");
}

TEST(ZarnKeySafety, TwoExportsWithoutForceOntoOneNewFileNeverBothSucceed) {
    TTemporaryFolder folder;
    // A large modulus makes the two exports overlap.
    const std::string modulus(100000, 'A');
    for (int round = 0; round < 30; ++round) {
        const std::string target = folder.File("key" + std::to_string(round) + ".key");
        int go[2];
        int report[2];
        ASSERT_EQ(pipe(go), 0);
        ASSERT_EQ(pipe(report), 0);
        std::fflush(nullptr);
        pid_t children[2];
        for (int i = 0; i < 2; ++i) {
            children[i] = fork();
            if (children[i] == 0) {
                close(go[1]);
                close(report[0]);
                char byte;
                if (read(go[0], &byte, 1) != 0)
                    _exit(9);
                std::vector<std::string> args = ExampleExport(target);
                args[14] = modulus;
                args[16] = i == 0 ? "01" : "02";
                args.push_back("--allow-invalid"); // the record is too long to import
                const TRun run = RunZarnKeyWith(args);
                if (write(report[1], run.Err.data(), run.Err.size()) < 0)
                    _exit(8);
                _exit(run.Exit);
            }
        }
        close(go[0]);
        close(report[1]);
        close(go[1]); // both start now
        std::string errors;
        char buffer[4096];
        for (ssize_t got; (got = read(report[0], buffer, sizeof buffer)) > 0;)
            errors.append(buffer, static_cast<std::size_t>(got));
        close(report[0]);
        int exits[2];
        for (int i = 0; i < 2; ++i) {
            int status = 0;
            waitpid(children[i], &status, 0);
            exits[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 100;
        }
        ASSERT_EQ(std::min(exits[0], exits[1]), kExitSuccess) << "round " << round << ": " << errors;
        ASSERT_EQ(std::max(exits[0], exits[1]), kExitStatusNotZero) << "round " << round << ": " << errors;
        EXPECT_NE(errors.find("\"" + target + "\" exists; add --force to replace it"), std::string::npos)
            << errors;
        const std::string written = ReadFile(target);
        EXPECT_EQ(written.substr(24 + modulus.size(), 2), exits[0] == 0 ? "01" : "02") << "the winner's file";
    }
}

} // namespace
} // namespace zarn
