// zarnkey export --out FILE: a key file from the record's fields given as options, from the JSON
// object `show --json` prints (--from-json), or with the key taken from an RSA key or certificate
// (--from-key), written through the record's own export.
#include "cli/Command.h"
#include "cli/KeyInputs.h"
#include "cli/KeyRecordJson.h"
#include "cli/RecordFiles.h"
#include "encoding/UTHHexUtilities.h"
#include "keyformats/InputFiles.h"
#include "platform/Conversions.h"
#include "platform/Files.h"
#include "platform/TextEncoding.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>

namespace zarn {

namespace {

struct TExportOptions {
    std::string Out;
    bool Replace = false;
    bool AllowInvalid = false;
    std::string FromJson;
    std::string FromKey;
    std::string PassphraseFile;
    std::optional<std::string> OwnerId, Index, ExpDate, HashIndicator, AlgorithmIndicator;
    std::optional<std::string> ModulusLength, ExponentLength, Modulus, Exponent;
};

// The JSON object of `fileName`, which may also be a pipe; read through the input files' opener, so
// a FIFO without a writer or a file larger than MaxInputFileBytes ends with the reason.
nlohmann::json ReadJsonFile(const std::string& fileName) {
    const std::string text = ReadInputFile(fileName, MaxInputFileBytes, true);
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        throw Exception("\"" + fileName + "\" is not a JSON text: " + error.what());
    }
}

// The length in bytes of a hexadecimal text as the main window counts it: its trimmed length div 2.
std::int32_t LengthOfHexText(const std::string& text) {
    return static_cast<std::int32_t>(Trim(text).size() / 2);
}

void SetFromOptions(const TExportOptions& options, TZarnPublicKey& key) {
    const auto text = [](const std::optional<std::string>& value) {
        const std::optional<std::string> latin1 = Utf8ToLatin1(*value);
        if (!latin1)
            throw Exception("'" + *value + "' holds a character above 255");
        return *latin1;
    };
    key.SetPublicKeyOwnerId(text(options.OwnerId));
    key.SetPublicKeyIndex(StrToInt(*options.Index));
    key.SetPublicKeyExpDate(text(options.ExpDate));
    key.SetHashAlgorithmIndicator(StrToInt(*options.HashIndicator));
    key.SetPublicKeyAlgorithmIndicator(StrToInt(*options.AlgorithmIndicator));
    key.SetPublicKeyModulus(text(options.Modulus));
    key.SetPublicKeyExponent(text(options.Exponent));
    key.SetPublicKeyModulusLength(options.ModulusLength ? StrToInt(*options.ModulusLength)
                                                        : LengthOfHexText(key.GetPublicKeyModulus()));
    key.SetPublicKeyExponentLength(options.ExponentLength ? StrToInt(*options.ExponentLength)
                                                          : LengthOfHexText(key.GetPublicKeyExponent()));
}

// The record fields from the options, and the modulus, the exponent and their lengths from the key.
void SetFromKey(const TExportOptions& options, TZarnPublicKey& key, std::ostream& err) {
    const std::optional<std::string> passphrase = ReadPassphraseOption(options.PassphraseFile, err);
    const TRsaPublicKey rsa = ReadKeyFile(options.FromKey, passphrase, err);
    TExportOptions fields = options;
    fields.HashIndicator = options.HashIndicator.value_or("1");
    fields.AlgorithmIndicator = options.AlgorithmIndicator.value_or("1");
    fields.Modulus = BytesToHex(rsa.Modulus);
    fields.Exponent = BytesToHex(rsa.Exponent);
    SetFromOptions(fields, key);
}

void SetFromJson(const std::string& fileName, TZarnPublicKey& key) {
    const nlohmann::json object = ReadJsonFile(fileName);
    KeyRecordFromJson(object, key);
    if (!object.contains("PublicKeyModulusLength"))
        key.SetPublicKeyModulusLength(LengthOfHexText(key.GetPublicKeyModulus()));
    if (!object.contains("PublicKeyExponentLength"))
        key.SetPublicKeyExponentLength(LengthOfHexText(key.GetPublicKeyExponent()));
}

class TExportCommand : public TCommand {
public:
    CLI::App* Add(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "export", "write a key file from the record fields given as options or as a JSON object");
        AddOptions(*command);
        SetExitStatuses(
            *command,
            {{kExitSuccess, "when the export's status is 0"},
             {kExitStatusNotZero, "for any other status, when --out exists without --force and for a key or "
                                  "passphrase that cannot be used"},
             {kExitUsage, "for a usage error"},
             {kExitRaisedError, "for a file that cannot be read or written"}});
        return command;
    }

    // The record options an export needs depend on where the record comes from.
    void CheckUsage() override {
        if (!m_options.FromJson.empty())
            return;
        const bool fromKey = !m_options.FromKey.empty();
        for (CLI::Option* option : fromKey ? m_requiredFromKey : m_requiredFromOptions)
            if (option->count() == 0)
                throw CLI::RequiredError(option->get_name() + (fromKey ? " is required with --from-key"
                                                                       : " is required without --from-json"),
                                         CLI::ExitCodes::RequiredError);
    }

    int Run(std::ostream& out, std::ostream& err) override {
        TZarnPublicKey key;
        if (!m_options.FromJson.empty())
            SetFromJson(m_options.FromJson, key);
        else if (!m_options.FromKey.empty())
            SetFromKey(m_options, key, err);
        else
            SetFromOptions(m_options, key);
        // A record that would not import cleanly is written only when asked for.
        if (!m_options.AllowInvalid) {
            const TImportResult trial = ImportAfterExport(key);
            if (trial.Status != 0) {
                PrintError(err, "the record would not import cleanly: " + std::to_string(trial.Status) + " " +
                                    MessageToUtf8(trial.Message) +
                                    "; nothing was written (--allow-invalid writes it)");
                return kExitStatusNotZero;
            }
        }
        const TRecordExport exported = ExportRecordFile(key, m_options.Out, m_options.Replace);
        // An existing file kept, also one that appeared during the export: no dialog was shown, so
        // the export's "aborted during file dialog" would name the wrong reason.
        if (exported.AppearedMeanwhile || !exported.Written)
            return ReportFileExists(err, m_options.Out);
        out << "File: " << MessageToUtf8(m_options.Out) << "\n";
        out << "Status: " << exported.Status << "\n";
        out << "Message: " << exported.Message << "\n";
        out << "HashResult: " << Latin1ToJsonString(key.GetHashResult()) << "\n";
        if (exported.Reimport.Status != 0)
            PrintError(err, "warning: the written file does not import cleanly: " +
                                std::to_string(exported.Reimport.Status) + " " +
                                MessageToUtf8(exported.Reimport.Message));
        return ExitFor(exported.Status);
    }

private:
    CLI::Option* AddRecordOption(CLI::App& command, std::optional<std::string>& target,
                                 const std::string& names, const std::string& description) {
        CLI::Option* option = command.add_option(names, target, description);
        m_record.push_back(option);
        return option;
    }

    void AddOptions(CLI::App& command) {
        TExportOptions& options = m_options;
        command.add_option("--out,-o", options.Out, "the key file to write")
            ->required()
            ->check(NonEmptyFileName());
        command.add_flag("--allow-invalid", options.AllowInvalid,
                         "write the record also when it would not import cleanly, with a warning (without it "
                         "such a record is refused, exit status 1, and nothing is written)");
        command.add_flag("--force,-f", options.Replace,
                         "replace the file when it exists; without it an existing file, also one that "
                         "appears during the export, is left as it is (exit status 1)");
        AddRecordOption(command, options.OwnerId, "--owner-id,--PublicKeyOwnerId",
                        "owner identifier digits (blanks removed, cut to 10)");
        AddRecordOption(command, options.Index, "--index,--PublicKeyIndex", "key index, 0..255")
            ->check(IntegerValidator(0, 255, "a key index from 0 to 255", "0..255"));
        AddRecordOption(command, options.ExpDate, "--exp-date,--PublicKeyExpDate",
                        "expiration date digits (4: month and year, MMYY)");
        AddRecordOption(command, options.HashIndicator, "--hash-indicator,--HashAlgorithmIndicator",
                        "hash algorithm indicator (1 = SHA-1; any other value writes no hash; 1 with "
                        "--from-key when not given)")
            ->check(IntegerValidator(0, 255, "an indicator from 0 to 255", "0..255"));
        AddRecordOption(command, options.AlgorithmIndicator,
                        "--algorithm-indicator,--PublicKeyAlgorithmIndicator",
                        "public-key algorithm indicator (1 with --from-key when not given)")
            ->check(IntegerValidator(0, 255, "an indicator from 0 to 255", "0..255"));
        const std::size_t keyFields = m_record.size();
        AddRecordOption(command, options.Modulus, "--modulus,--PublicKeyModulus",
                        "modulus as hexadecimal text");
        AddRecordOption(command, options.Exponent, "--exponent,--PublicKeyExponent",
                        "exponent as hexadecimal text");
        const std::size_t required = m_record.size();
        AddRecordOption(command, options.ModulusLength, "--modulus-length,--PublicKeyModulusLength",
                        "modulus length in bytes (default: trimmed modulus text length div 2)")
            ->check(IntegerValidator(INT32_MIN, INT32_MAX, "an integer", "INT"));
        AddRecordOption(command, options.ExponentLength, "--exponent-length,--PublicKeyExponentLength",
                        "exponent length in bytes (default: trimmed exponent text length div 2)")
            ->check(IntegerValidator(INT32_MIN, INT32_MAX, "an integer", "INT"));
        CLI::Option* fromJson =
            command
                .add_option("--from-json", options.FromJson,
                            "take the record from a JSON object as `show --json` prints it")
                ->check(NonEmptyFileName());
        CLI::Option* fromKey = command
                                   .add_option("--from-key", options.FromKey,
                                               "take the modulus, the exponent and their lengths from an RSA "
                                               "public key, private key or X.509 "
                                               "certificate (PEM or DER)")
                                   ->check(NonEmptyFileName());
        command
            .add_option("--passphrase-file", options.PassphraseFile,
                        "the passphrase of an encrypted --from-key key: the first line of this file")
            ->check(NonEmptyFileName())
            ->needs(fromKey);
        for (CLI::Option* option : m_record)
            option->excludes(fromJson);
        fromKey->excludes(fromJson);
        for (std::size_t i = keyFields; i < m_record.size(); ++i)
            m_record[i]->excludes(fromKey);
        m_requiredFromOptions.assign(m_record.begin(),
                                     m_record.begin() + static_cast<std::ptrdiff_t>(required));
        m_requiredFromKey.assign(m_record.begin(), m_record.begin() + 3);
    }

    TExportOptions m_options;
    std::vector<CLI::Option*> m_record;              // the record's fields, in the order above
    std::vector<CLI::Option*> m_requiredFromOptions; // needed without --from-json or --from-key
    std::vector<CLI::Option*> m_requiredFromKey;     // needed with --from-key
};

} // namespace

std::unique_ptr<TCommand> MakeExportCommand() {
    return std::make_unique<TExportCommand>();
}

} // namespace zarn
