// zarnkey genrsa: RSA key-pair generation on the console.
//
//   zarnkey genrsa [--bytes N] [--json]
//
// N is even and from 4 to 254: the key record holds at most 255 bytes of modulus, and the primes
// aim at N div 2 and N div 2 - 1 bytes, so an odd length or one below 4 never gives a valid pair.
// Any other N is a usage error.
//
// Progress (the status and runs texts) goes to standard error, one line each; on a terminal the line
// is overwritten in place. At the end standard output gets the outcome, the number of runs and the
// last run's texts (or one JSON object with them). Ctrl-C asks to stop: the current run finishes and
// the outcome is kgStopped; a second Ctrl-C ends the program at once. Exit status 0 for a valid key
// pair, 1 for a stopped generation or one that ran out of runs, 2 for a length outside 4..254 or
// odd, 3 when standard output cannot be written.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <iosfwd>

namespace zarn {

constexpr std::int32_t kMinGenRsaBytes = 4;
constexpr std::int32_t kMaxGenRsaBytes = 254;

struct TGenRsaOptions {
    std::int32_t Bytes = 128;
    bool Json = false;
};

// Adds the genrsa subcommand with its options to `app`.
CLI::App* AddGenRsaCommand(CLI::App& app, TGenRsaOptions& options);

// Generates a key pair. Progress goes to `err`; it is overwritten in place only when `err` is the
// process's standard error and that is a terminal. Returns the exit status.
int RunGenRsa(const TGenRsaOptions& options, std::ostream& out, std::ostream& err);

} // namespace zarn
