// Runs the command line in this process, or the built zarnkey as a child process, and keeps what it
// printed.
#pragma once

#include "cli/ZarnKeyCommandLine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zarn::test {

struct TRun {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

// zarnkey with `args` (without the program name).
inline TRun RunZarnKeyWith(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"zarnkey"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    std::ostringstream out;
    std::ostringstream err;
    TRun run;
    run.Exit = RunZarnKey(static_cast<int>(argv.size()), argv.data(), out, err);
    run.Out = out.str();
    run.Err = err.str();
    return run;
}

#ifdef ZARNKEY_PATH
// The zarnkey program with `args`, standard input from /dev/null. Standard output is kept in Out,
// or goes to the file `outPath` when one is given; standard error is kept. A program that has not
// ended after a minute is killed (exit status 137), so that one which blocks or runs for ever fails
// the test instead of hanging it; one ended by a signal gives 100.
inline TRun RunProgram(const std::vector<std::string>& args, const char* outPath = nullptr) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    EXPECT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outPath != nullptr) {
        posix_spawn_file_actions_addopen(&actions, 1, outPath, O_WRONLY, 0);
    } else {
        EXPECT_EQ(pipe(out), 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<const char*> argv = {"timeout", "--signal=KILL", "60", ZARNKEY_PATH};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    pid_t child = -1;
    EXPECT_EQ(posix_spawnp(&child, "timeout", &actions, nullptr, const_cast<char**>(argv.data()), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    if (out[1] >= 0)
        close(out[1]);
    TRun run;
    // Both pipes are drained together, so a child that fills one while the other is read never stalls.
    pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* kept[2] = {&run.Out, &run.Err};
    for (int open = (out[0] >= 0) + 1; open > 0;) {
        if (poll(streams, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(streams[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                kept[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                close(streams[i].fd);
                streams[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    return run;
}
#endif

} // namespace zarn::test
