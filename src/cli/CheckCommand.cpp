// zarnkey check FILE...: import each file and print one line with its status and message.
#include "cli/Command.h"
#include "cli/RecordFiles.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <ostream>

namespace zarn {

namespace {

class TCheckCommand : public TCommand {
public:
    CLI::App* Add(CLI::App& app) override {
        CLI::App* command =
            app.add_subcommand("check", "import key files and print one status line for each");
        command->add_option("files", m_files, "the key files")->required();
        SetExitStatuses(*command,
                        {{kExitSuccess, "when every record imports with status 0"},
                         {kExitStatusNotZero, "when any has another status"},
                         {kExitUsage, "for a usage error"},
                         {kExitRaisedError, "when a file cannot be read (its line says \"error\")"}});
        return command;
    }

    int Run(std::ostream& out, std::ostream& err) override {
        int exitStatus = kExitSuccess;
        for (const std::string& file : m_files)
            exitStatus = std::max(exitStatus, CheckFile(file, out, err));
        return exitStatus;
    }

private:
    static int CheckFile(const std::string& file, std::ostream& out, std::ostream& err) {
        try {
            TZarnPublicKey key;
            const TImportResult result = ImportFile(file, key);
            out << MessageToUtf8(file) << ": " << result.Status << " " << MessageToUtf8(result.Message)
                << "\n";
            return ExitFor(result.Status);
        } catch (const std::exception& error) {
            PrintError(err, ErrorText(error));
            out << MessageToUtf8(file) << ": error\n";
            return kExitRaisedError;
        }
    }

    std::vector<std::string> m_files;
};

} // namespace

std::unique_ptr<TCommand> MakeCheckCommand() {
    return std::make_unique<TCheckCommand>();
}

} // namespace zarn
