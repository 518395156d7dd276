// zarnkey show FILE [--json]: import FILE without a dialog and print the status, the message, every
// property and, where the record's numbers make an RSA key, its size and fingerprint.
#include "cli/Command.h"
#include "cli/KeyRecordJson.h"
#include "cli/RecordFiles.h"
#include "keyformats/KeyFormats.h"
#include "platform/TextEncoding.h"

#include <optional>
#include <ostream>

namespace zarn {

namespace {

// The key's size and fingerprint, when the record's modulus and exponent make an RSA key.
nlohmann::ordered_json KeyFacts(const TZarnPublicKey& key) {
    nlohmann::ordered_json facts = nlohmann::ordered_json::object();
    const std::optional<TRsaPublicKey> rsa = RecordRsaKey(key);
    if (!rsa)
        return facts;
    try {
        const std::string fingerprint = RsaKeyFingerprint(*rsa);
        facts["KeySizeBits"] = RsaKeyBits(*rsa);
        facts["KeyFingerprintSha256"] = fingerprint;
    } catch (const EKeyFormatError&) {
        // Numbers the standard encoding refuses describe no key; the record is shown without facts.
    }
    return facts;
}

class TShowCommand : public TCommand {
public:
    CLI::App* Add(CLI::App& app) override {
        CLI::App* command =
            app.add_subcommand("show", "import a key file and print its status, message and fields");
        command->add_option("file", m_file, "the key file")->required();
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
        if (m_json)
            PrintJson(key, result, out);
        else
            PrintText(key, result, out);
        return ExitFor(result.Status);
    }

private:
    static void PrintJson(const TZarnPublicKey& key, const TImportResult& result, std::ostream& out) {
        nlohmann::ordered_json object;
        object["status"] = result.Status;
        object["message"] = MessageToUtf8(result.Message);
        object.update(KeyRecordToJson(key));
        object["FileName"] = MessageToUtf8(key.GetFileName());
        object.update(KeyFacts(key));
        // Characters above 127 as \u escapes, so the output is plain ASCII.
        out << object.dump(2, ' ', true) << "\n";
    }

    static void PrintText(const TZarnPublicKey& key, const TImportResult& result, std::ostream& out) {
        out << "File: " << MessageToUtf8(key.GetFileName()) << "\n";
        out << "Status: " << result.Status << "\n";
        out << "Message: " << MessageToUtf8(result.Message) << "\n";
        PrintNameValueLines(KeyRecordToJson(key), out, {"FileName", "ShowFileDialog"});
        PrintNameValueLines(KeyFacts(key), out);
    }

    std::string m_file;
    bool m_json = false;
};

} // namespace

std::unique_ptr<TCommand> MakeShowCommand() {
    return std::make_unique<TShowCommand>();
}

} // namespace zarn
