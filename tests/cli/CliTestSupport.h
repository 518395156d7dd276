// Runs the command line in this process and keeps what it printed.
#pragma once

#include "cli/ZarnKeyCommandLine.h"

#include <sstream>
#include <string>
#include <vector>

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

} // namespace zarn::test
