// zarnkey check PATH...: the inventory of key files (cli/KeyInventory.h), as a table or JSON.
#include "cli/Command.h"
#include "cli/KeyInventory.h"
#include "platform/Clock.h"

namespace zarn {

namespace {

class TCheckCommand : public TCommand {
public:
    CLI::App* Add(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "check", "import key files, and the key files in folders, and print a table of their records");
        command->add_option("paths", m_paths, "key files and folders of key files")
            ->required()
            ->check(NonEmptyFileName());
        command->add_flag("--recursive,-r", m_options.Recursive,
                          "also read the sub-folders of the folders given");
        command
            ->add_option("--expires-within", m_options.ExpiresWithinDays,
                         "also mark keys valid for at most DAYS more days (expired keys are always marked)")
            ->check(IntegerValidator(0, 100000, "a number of days from 0 to 100000", "DAYS"));
        command->add_flag("--json", m_options.Json,
                          "print a JSON list: the `show --json` object of each file and its Marks");
        SetExitStatuses(
            *command,
            {{kExitSuccess, "when every file imports with status 0, no key has expired or expires within the "
                            "window and no records conflict"},
             {kExitStatusNotZero, "when any file has another status or records conflict"},
             {kExitUsage, "for a usage error"},
             {kExitRaisedError, "when a file or folder cannot be read (the others are still checked)"},
             {kExitKeysExpiring, "when the only findings are keys expired or expiring within the window"}});
        return command;
    }

    int Run(std::ostream& out, std::ostream& err) override {
        return CheckKeyInventory(m_paths, m_options, LocalDate(), out, err);
    }

private:
    std::vector<std::string> m_paths;
    TInventoryOptions m_options;
};

} // namespace

std::unique_ptr<TCommand> MakeCheckCommand() {
    return std::make_unique<TCheckCommand>();
}

} // namespace zarn
