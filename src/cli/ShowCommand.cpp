// zarnkey show FILE [--json]: import FILE without a dialog and print the status, the message, every
// property, where the record's numbers make an RSA key its size and fingerprint, and the end of the
// key's validity.
#include "cli/Command.h"
#include "cli/RecordFiles.h"
#include "platform/TextEncoding.h"

#include <ostream>

namespace zarn {

namespace {

class TShowCommand : public TCommand {
public:
    CLI::App* Add(CLI::App& app) override {
        CLI::App* command =
            app.add_subcommand("show", "import a key file and print its status, message and fields");
        command->add_option("file", m_file, "the key file")->required()->check(NonEmptyFileName());
        command->add_flag("--json", m_json, "print one JSON object");
        SetExitStatuses(*command,
                        {{kExitSuccess, "when the record imports with status 0"},
                         {kExitStatusNotZero, "for any other status"},
                         {kExitUsage, "for a usage error"},
                         {kExitRaisedError, "when the file cannot be read or standard output written"}});
        return command;
    }

    int Run(std::ostream& out, std::ostream&) override {
        TZarnPublicKey key;
        const TImportResult result = ImportFile(m_file, key);
        const nlohmann::ordered_json report = RecordReport(key, result);
        if (m_json) {
            // Characters above 127 as \u escapes, so the output is plain ASCII.
            out << report.dump(2, ' ', true) << "\n";
        } else {
            out << "File: " << MessageToUtf8(key.GetFileName()) << "\n";
            PrintNameValueLines(report, out, {"FileName", "ShowFileDialog"},
                                {{"status", "Status"}, {"message", "Message"}});
        }
        return ExitFor(result.Status);
    }

private:
    std::string m_file;
    bool m_json = false;
};

} // namespace

std::unique_ptr<TCommand> MakeShowCommand() {
    return std::make_unique<TShowCommand>();
}

} // namespace zarn
