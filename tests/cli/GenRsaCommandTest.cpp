#include "cli/GenRsaCommand.h"
#include "cli/ZarnKeyCommandLine.h"
#include "tests/cli/CliTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/bn.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zarn {
namespace {

using test::RunZarnKeyWith;
using test::TRun;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// "Name: value" lines as a map.
std::map<std::string, std::string> Fields(const std::string& text) {
    std::map<std::string, std::string> fields;
    for (const std::string& line : Lines(text)) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos)
            fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return fields;
}

// m^(e d) = m mod n for a few m, with OpenSSL's arithmetic.
bool DecryptsWhatItEncrypts(const std::string& nHex, const std::string& eHex, const std::string& dHex) {
    BN_CTX* context = BN_CTX_new();
    BIGNUM *n = nullptr, *e = nullptr, *d = nullptr;
    BN_hex2bn(&n, nHex.c_str());
    BN_hex2bn(&e, eHex.c_str());
    BN_hex2bn(&d, dHex.c_str());
    BIGNUM* m = BN_new();
    BIGNUM* c = BN_new();
    BIGNUM* back = BN_new();
    bool ok = true;
    for (int k = 0; k < 5 && ok; ++k) {
        BN_rand_range(m, n);
        BN_mod_exp(c, m, e, n, context);
        BN_mod_exp(back, c, d, n, context);
        ok = BN_cmp(back, m) == 0;
    }
    for (BIGNUM* value : {n, e, d, m, c, back})
        BN_free(value);
    BN_CTX_free(context);
    return ok;
}

TEST(ZarnKeyGenRsa, PrintsProgressLinesAndTheKeyPair) {
    // About one generation in 1500 ends without a valid 128-bit modulus in its 50 runs; three
    // attempts make that practically impossible.
    TRun run;
    for (int attempt = 0; attempt < 3 && run.Exit != 0; ++attempt) {
        run = RunZarnKeyWith({"genrsa", "--bytes", "16"});
        if (run.Exit != 0) {
            EXPECT_EQ(Fields(run.Out)["Outcome"], "kgMaxRunsReached") << run.Out;
        }
    }
    ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
    const std::map<std::string, std::string> fields = Fields(run.Out);
    EXPECT_EQ(fields.at("Outcome"), "kgValid");
    const std::string& modulus = fields.at("PublicKeyModulus");
    EXPECT_EQ(modulus.size(), 32u);
    EXPECT_NE(std::string("89ABCDEF").find(modulus[0]), std::string::npos) << modulus;
    EXPECT_EQ(fields.at("PrivateKeyModulus"), modulus);
    EXPECT_EQ(fields.at("ResultingLength"), "16");
    EXPECT_TRUE(
        DecryptsWhatItEncrypts(modulus, fields.at("PublicKeyExponent"), fields.at("PrivateKeyExponent")));

    // Not a terminal: every status and runs text on its own line, six per run.
    const std::vector<std::string> lines = Lines(run.Err);
    const int runs = std::stoi(fields.at("Runs"));
    ASSERT_EQ(lines.size(), 6u * static_cast<std::size_t>(runs));
    const std::vector<std::string> firstRun(lines.begin(), lines.begin() + 6);
    EXPECT_EQ(firstRun,
              (std::vector<std::string>{"running, please wait ", "Runs: 1", "prime p found", "prime q found",
                                        "modulus computed", "secret key computed"}));
    EXPECT_EQ(lines[lines.size() - 5].rfind("Runs: " + std::to_string(runs), 0), 0u);
}

TEST(ZarnKeyGenRsa, JsonObjectWhenNoRunIsValid) {
    // For an odd length the primes aim at one byte less, so no run reaches 8 L bits. The command
    // line refuses such a length, so the command runs here behind its option parsing.
    TGenRsaOptions options;
    options.Bytes = 11;
    options.Attempts = 2;
    options.Json = true;
    std::ostringstream out, err;
    TRun run;
    run.Exit = RunGenRsa(options, out, err);
    run.Out = out.str();
    run.Err = err.str();
    EXPECT_EQ(run.Exit, kExitStatusNotZero);
    const nlohmann::ordered_json object = nlohmann::ordered_json::parse(run.Out);
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"outcome", "runs", "PublicKeyModulus", "PublicKeyExponent",
                                              "PrivateKeyModulus", "PrivateKeyExponent", "ResultingLength"}));
    EXPECT_EQ(object["outcome"], "kgMaxRunsReached");
    EXPECT_EQ(object["runs"], 50);
    const std::string modulus = object["PublicKeyModulus"];
    EXPECT_EQ(object["PrivateKeyModulus"], modulus);
    EXPECT_EQ(object["ResultingLength"], static_cast<int>(modulus.size() / 2));
    EXPECT_TRUE(DecryptsWhatItEncrypts(modulus, object["PublicKeyExponent"], object["PrivateKeyExponent"]));
    EXPECT_EQ(Lines(run.Err).back(), "Max. runs reached, no valid key pair generated");
    // A generation that ran out of runs is followed by another, up to the attempts asked for.
    const std::string again = "zarnkey: no valid key pair in 50 runs; starting attempt ";
    EXPECT_NE(run.Err.find(again + "2 of 2\n"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find(again + "3"), std::string::npos);
}

TEST(ZarnKeyGenRsa, UsageErrors) {
    for (const char* bytes : {"0", "-1", "abc", "2147483648", ""}) {
        const TRun run = RunZarnKeyWith({"genrsa", "--bytes", bytes});
        EXPECT_EQ(run.Exit, kExitUsage) << bytes;
        EXPECT_TRUE(run.Out.empty() || run.Out.find("Outcome") == std::string::npos);
    }
    EXPECT_EQ(RunZarnKeyWith({"genrsa", "extra"}).Exit, kExitUsage);
    const TRun help = RunZarnKeyWith({"genrsa", "--help"});
    EXPECT_EQ(help.Exit, 0);
    EXPECT_NE(help.Out.find("--bytes"), std::string::npos);
}

void MarkInterrupt(int) {}

TEST(ZarnKeyGenRsa, RestoresThePreviousInterruptHandler) {
    struct sigaction mine {
    }, before{}, after{};
    mine.sa_handler = MarkInterrupt;
    sigemptyset(&mine.sa_mask);
    sigaction(SIGINT, &mine, &before);
    RunZarnKeyWith({"genrsa", "--bytes", "10"});
    sigaction(SIGINT, &before, &after);
    EXPECT_EQ(after.sa_handler, &MarkInterrupt);
}

// zarnkey as a child process with standard output on a pipe and standard error on `errFd`.
struct TChild {
    pid_t Pid = -1;
    int Out = -1;
};

TChild Spawn(const std::vector<std::string>& args, int errFd) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    std::vector<char*> argv = {const_cast<char*>(ZARNKEY_PATH)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    TChild child;
    EXPECT_EQ(posix_spawn(&child.Pid, ZARNKEY_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    child.Out = out[0];
    return child;
}

// Reads `fd` until `text` has appeared or the stream ends; returns what was read.
std::string ReadUntil(int fd, const std::string& text) {
    std::string read;
    char buffer[4096];
    while (read.find(text) == std::string::npos) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        read.append(buffer, static_cast<std::size_t>(got));
    }
    return read;
}

int WaitFor(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ZarnKeyGenRsa, CtrlCLetsTheRunFinishAndStops) {
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    // A run at 128 bytes takes far longer than the signal takes to arrive, and a stop request
    // during a valid run still stops.
    const TChild child = Spawn({"genrsa", "--bytes", "128"}, err[1]);
    close(err[1]);
    std::string progress = ReadUntil(err[0], "Runs: 1\n");
    ASSERT_NE(progress.find("Runs: 1\n"), std::string::npos) << progress;
    kill(child.Pid, SIGINT);
    progress += ReadUntil(err[0], "\n\n"); // to the end
    const std::string out = ReadUntil(child.Out, "\n\n");
    close(err[0]);
    close(child.Out);
    EXPECT_EQ(WaitFor(child.Pid), kExitStatusNotZero);
    std::map<std::string, std::string> fields = Fields(out);
    EXPECT_EQ(fields["Outcome"], "kgStopped") << out;
    EXPECT_LT(std::stoi("0" + fields["Runs"]), 50);
    EXPECT_GE(std::stoi("0" + fields["Runs"]), 1);
    EXPECT_NE(progress.find("running, please wait (stop pressed)\n"), std::string::npos) << progress;
    EXPECT_EQ(Lines(progress).back(), "Stopped by user");
    // The interrupted run still completed.
    EXPECT_EQ(Lines(progress)[Lines(progress).size() - 2], "secret key computed");
}

TEST(ZarnKeyGenRsa, OverwritesTheProgressLineOnATerminal) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const TChild child = Spawn({"genrsa", "--bytes", "16"}, slave);
    close(slave);
    std::string progress;
    char buffer[4096];
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;) // EIO once the child has gone
        progress.append(buffer, static_cast<std::size_t>(got));
    close(master);
    const std::string out = ReadUntil(child.Out, "\n\n");
    close(child.Out);
    WaitFor(child.Pid);
    EXPECT_NE(progress.find("\r\033[KRuns: 1  prime p found"), std::string::npos) << progress;
    EXPECT_EQ(progress.find("\nRuns"), std::string::npos) << progress; // no line per text
    EXPECT_EQ(progress.back(), '\n');
    EXPECT_NE(out.find("Outcome: "), std::string::npos) << out;
}

} // namespace
} // namespace zarn
