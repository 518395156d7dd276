#include "cli/ZarnKeyCommandLine.h"

#include "cli/KeyInventory.h"
#include "cli/Version.h"
#include "keyformats/InputFiles.h"
#include "keyformats/KeyFormats.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace zarn {

namespace {

// CLI11 keeps the options an option needs or excludes in sets ordered by address, so its help would
// list them in an order that changes from run to run; this one lists them sorted.
class TStableHelpFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override {
        std::string text = CLI::Formatter::make_option_opts(option);
        std::size_t start = std::string::npos;
        for (const char* label : {"Needs", "Excludes"})
            start = std::min(start, text.find(" " + get_label(label) + ":"));
        if (start == std::string::npos)
            return text;
        text.resize(start);
        const auto append = [&](const char* label, const std::set<CLI::Option*>& options) {
            if (options.empty())
                return;
            std::vector<std::string> names;
            for (const CLI::Option* other : options)
                names.push_back(other->get_name());
            std::sort(names.begin(), names.end());
            text += " " + get_label(label) + ":";
            for (const std::string& name : names)
                text += " " + name;
        };
        append("Needs", option->get_needs());
        append("Excludes", option->get_excludes());
        return text;
    }

    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
        return WrapHelp(CLI::Formatter::make_help(app, std::move(name), mode));
    }

private:
    static constexpr std::size_t kColumns = 80;

    // Lines longer than kColumns wrapped at spaces. A continuation is indented to where the line's
    // description starts: after the first run of two spaces that follows text, else the line's own
    // indentation.
    static std::string WrapHelp(const std::string& text) {
        std::istringstream lines(text);
        std::string wrapped, line;
        while (std::getline(lines, line)) {
            const std::size_t indent =
                line.find_first_not_of(' ') == std::string::npos ? 0 : line.find_first_not_of(' ');
            const std::size_t gap = line.find("  ", indent);
            const std::size_t described =
                gap == std::string::npos ? std::string::npos : line.find_first_not_of(' ', gap);
            const std::size_t hanging = described != std::string::npos && described < kColumns / 2 ? described
                                        : indent > 0 ? indent + 4
                                                     : 0;
            while (line.size() > kColumns) {
                std::size_t cut = line.rfind(' ', kColumns);
                if (cut == std::string::npos || cut <= hanging)
                    break;
                wrapped += line.substr(0, line.find_last_not_of(' ', cut) + 1) + "\n";
                line = std::string(hanging, ' ') + line.substr(cut + 1);
            }
            wrapped += line + "\n";
        }
        return wrapped;
    }
};

// CLI11 takes the argument after "--name=" as the option's value; an empty value is meant.
std::vector<std::string> SplitEmptyValues(int argc, const char* const* argv) {
    std::vector<std::string> args;
    bool options = true;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            options = false;
        if (options && i > 0 && arg.size() > 3 && arg.compare(0, 2, "--") == 0 &&
            arg.find('=') == arg.size() - 1) {
            args.push_back(arg.substr(0, arg.size() - 1));
            args.emplace_back();
            continue;
        }
        args.push_back(arg);
    }
    return args;
}

// Flushes `out` and raises when something written to it was lost.
void CheckOutput(std::ostream& out) {
    errno = 0;
    out.flush();
    if (!out.good()) {
        const int error = errno;
        throw Exception(std::string("cannot write standard output: ") +
                        (error != 0 ? std::strerror(error) : "write error"));
    }
}

// A usage error for a first argument that is neither a command nor one of the program's own
// options, naming it and the commands; nothing when the parser may go on. Without it the parser would
// only say that a command is required.
std::optional<std::string> UnknownFirstArgument(const CLI::App& app, int argc, const char* const* argv) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(command->get_name());
    std::string list = names.front();
    for (std::size_t i = 1; i < names.size(); ++i)
        list += (i + 1 < names.size() ? ", " : " and ") + names[i];
    if (argc < 2)
        return "a command is required: " + list;
    const std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "--version" ||
        std::find(names.begin(), names.end(), first) != names.end())
        return std::nullopt;
    return (first.rfind('-', 0) == 0 ? "unknown option " : "unknown command ") + Quoted(first) +
           "; the commands are " + list;
}

// The commands in the order --help lists them; help comes last, as it lists the others.
std::vector<std::unique_ptr<TCommand>> MakeCommands(const std::string& programName, std::ostream& out,
                                                    std::ostream& err) {
    std::vector<std::unique_ptr<TCommand>> commands;
    commands.push_back(MakeShowCommand());
    commands.push_back(MakeCheckCommand());
    commands.push_back(MakeExportCommand());
    commands.push_back(MakeGenRsaCommand());
    commands.push_back(MakePubKeyCommand());
    commands.push_back(MakeHelpCommand([programName, &out, &err](const std::vector<std::string>& args) {
        std::vector<const char*> argv = {programName.c_str()};
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        return RunZarnKey(static_cast<int>(argv.size()), argv.data(), out, err);
    }));
    return commands;
}

// Runs `command`, turning the libraries' errors into exit statuses: input that is no usable key or
// passphrase is bad input, as a record with a bad status is (1); any other error is 3.
int RunCommand(TCommand& command, std::ostream& out, std::ostream& err) {
    try {
        const int exitStatus = command.Run(out, err);
        CheckOutput(out);
        return exitStatus;
    } catch (const std::exception& error) {
        out.flush();
        PrintError(err, ErrorText(error));
        const bool badInput = dynamic_cast<const EKeyFormatError*>(&error) != nullptr ||
                              dynamic_cast<const EPassphraseFileError*>(&error) != nullptr;
        return badInput ? kExitStatusNotZero : kExitRaisedError;
    }
}

} // namespace

int RunZarnKey(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"zarnkey: import, check and export Zarn public key files, convert their keys to and from "
                 "the standard RSA key formats, and generate RSA key pairs"};
    app.formatter(std::make_shared<TStableHelpFormatter>());
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("zarnkey ") + kProductVersion,
                         "print the version and exit");
    SetExitStatuses(
        app,
        {{kExitSuccess, "when the operation's status is 0"},
         {kExitStatusNotZero,
          "for any other status, for a file to write that exists without --force and for a "
          "key or passphrase that cannot be used"},
         {kExitUsage, "for a usage error"},
         {kExitRaisedError, "for an error such as a file that cannot be read or written or standard output "
                            "that cannot be written (its text goes to standard error)"},
         {kExitKeysExpiring, "for check when its only findings are expired or expiring keys"}});

    const std::vector<std::unique_ptr<TCommand>> commands =
        MakeCommands(argc > 0 ? argv[0] : "zarnkey", out, err);
    std::vector<std::pair<CLI::App*, TCommand*>> added;
    for (const std::unique_ptr<TCommand>& command : commands)
        added.emplace_back(command->Add(app), command.get());

    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return MessageText(error.what()) + "\nRun with --help for more information.\n";
    });
    if (const std::optional<std::string> unknown = UnknownFirstArgument(app, argc, argv)) {
        err << MessageText(*unknown) << "\nRun with --help for more information.\n";
        return kExitUsage;
    }

    TCommand* chosen = nullptr;
    try {
        const std::vector<std::string> args = SplitEmptyValues(argc, argv);
        std::vector<const char*> pointers;
        for (const std::string& arg : args)
            pointers.push_back(arg.c_str());
        app.parse(static_cast<int>(pointers.size()), pointers.data());
        for (const auto& [subcommand, command] : added)
            if (subcommand->parsed())
                chosen = command;
        chosen->CheckUsage();
    } catch (const CLI::ParseError& error) {
        return app.exit(error, out, err) == 0 ? kExitSuccess : kExitUsage;
    }
    return RunCommand(*chosen, out, err);
}

int FinishStandardOutput(int exitStatus, std::ostream& err) {
    const bool reported = !std::cout.good();
    errno = 0;
    std::cout.flush();
    bool failed = !std::cout.good();
    int error = errno;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        failed = true;
        error = error != 0 ? error : errno;
    }
    if (std::fclose(stdout) != 0) {
        failed = true;
        error = error != 0 ? error : errno;
    }
    if (!failed)
        return exitStatus;
    if (!reported)
        err << "zarnkey: cannot write standard output: "
            << (error != 0 ? std::strerror(error) : "write error") << "\n";
    return kExitRaisedError;
}

} // namespace zarn
