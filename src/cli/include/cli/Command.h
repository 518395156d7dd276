// The interface every zarnkey command implements, and the pieces the commands share.
//
// A command adds its subcommand and options to the application, may check after parsing what the
// parser cannot, and runs. Its exit statuses are listed with it and end its --help text. The main
// file (ZarnKeyCommandLine.cpp) registers the commands, runs the one the user named, and turns the
// library's errors into exit statuses in one place.
#pragma once

#include "platform/Errors.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zarn {

constexpr int kExitSuccess = 0;
constexpr int kExitStatusNotZero = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRaisedError = 3;

// One exit status and what it means for a command, as its help prints it.
struct TExitStatus {
    int Code;
    std::string Meaning;
};

class TCommand {
public:
    virtual ~TCommand() = default;

    // Adds the subcommand with its options to `app` and returns it.
    virtual CLI::App* Add(CLI::App& app) = 0;

    // After a successful parse of this command: raises CLI::ParseError for a usage error the parser
    // cannot see (such as options required only in one form of the command).
    virtual void CheckUsage() {}

    // Runs the parsed command, with results on `out` and progress, warnings and errors on `err`.
    // Returns the exit status; errors of the libraries may propagate (see ZarnKeyCommandLine.h).
    virtual int Run(std::ostream& out, std::ostream& err) = 0;
};

// The commands, each in its own file.
std::unique_ptr<TCommand> MakeShowCommand();
std::unique_ptr<TCommand> MakeCheckCommand();
std::unique_ptr<TCommand> MakeExportCommand();
std::unique_ptr<TCommand> MakeGenRsaCommand();
std::unique_ptr<TCommand> MakePubKeyCommand();
// `run` runs the whole command line on the arguments it is given (without the program name).
std::unique_ptr<TCommand> MakeHelpCommand(std::function<int(const std::vector<std::string>&)> run);

// ---- shared pieces ----

// kExitSuccess for an operation status of 0, else kExitStatusNotZero.
int ExitFor(std::int32_t status);

// The whole text of an error for the user: the message of one of ours, else what(), as UTF-8.
std::string ErrorText(const std::exception& error);

// `fileName` in double quotes, as zarnkey names every file in its messages.
std::string Quoted(const std::string& fileName);

// `text` as a message of zarnkey: "zarnkey: " and the text with its first word in lower case,
// unless that word is a name such as "OpenSSL" or "DER" (more than its first letter in capitals).
std::string MessageText(const std::string& text);

// Writes MessageText(text) and a line end to `err`.
void PrintError(std::ostream& err, const std::string& text);

// Reports on `err` that `fileName` exists and was kept because --force was not given, with
// `circumstance` in parentheses when it is not empty; returns kExitStatusNotZero.
int ReportFileExists(std::ostream& err, const std::string& fileName, const std::string& circumstance = "");

// "Name: value" lines of `object`, texts as they are and other values as JSON, without the keys in
// `skipped`; a key found in `labels` is printed with its label instead.
void PrintNameValueLines(const nlohmann::ordered_json& object, std::ostream& out,
                         std::initializer_list<const char*> skipped = {},
                         std::initializer_list<std::pair<const char*, const char*>> labels = {});

// Accepts a decimal (or $-hexadecimal) 32-bit integer from `min` to `max`; anything else is a usage
// error "'TEXT' is not <what>", which the parser prefixes with the option's name. `name` is what the
// help shows for the value.
CLI::Validator IntegerValidator(std::int32_t min, std::int32_t max, const std::string& what,
                                const std::string& name);

// Refuses an empty file name (as "--out=" gives) with "the file name is empty".
CLI::Validator NonEmptyFileName();

// Ends `command`'s help with its exit statuses: "Exit status: 0 <meaning>, 1 <meaning>, ...",
// wrapped at 80 columns, after `preface` (lines of its own) when that is not empty.
void SetExitStatuses(CLI::App& command, const std::vector<TExitStatus>& statuses,
                     const std::string& preface = "");

} // namespace zarn
