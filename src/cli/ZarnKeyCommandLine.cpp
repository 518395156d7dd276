#include "cli/ZarnKeyCommandLine.h"

#include "cli/GenRsaCommand.h"
#include "cli/InputFiles.h"
#include "cli/KeyFormatCommands.h"
#include "cli/KeyFormats.h"
#include "cli/KeyRecordJson.h"
#include "cli/RecordFiles.h"
#include "cli/Version.h"
#include "encoding/UTHHexUtilities.h"
#include "keyrecord/ZarnPublicKey.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/TextEncoding.h"
#include "platform/TextFiles.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

namespace zarn {

namespace {

// The whole text of an error: the message of one of ours, else what().
std::string ErrorText(const std::exception& error) {
    const auto* ours = dynamic_cast<const Exception*>(&error);
    return MessageToUtf8(ours != nullptr ? ours->Message() : std::string(error.what()));
}

int ExitFor(std::int32_t status) {
    return status == 0 ? kExitSuccess : kExitStatusNotZero;
}

// ---- show ----

struct TShowOptions {
    std::string File;
    bool Json = false;
};

// "Name: value" lines of `object`, without the keys in `skipped`.
void PrintLines(const nlohmann::ordered_json& object, std::ostream& out,
                std::initializer_list<const char*> skipped = {}) {
    for (const auto& [name, value] : object.items()) {
        if (std::find(skipped.begin(), skipped.end(), name) != skipped.end())
            continue;
        out << name << ": " << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
    }
}

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

int RunShow(const TShowOptions& options, std::ostream& out) {
    TZarnPublicKey key;
    const TImportResult result = ImportFile(options.File, key);
    if (options.Json) {
        nlohmann::ordered_json object;
        object["status"] = result.Status;
        object["message"] = MessageToUtf8(result.Message);
        object.update(KeyRecordToJson(key));
        object["FileName"] = MessageToUtf8(key.GetFileName());
        object.update(KeyFacts(key));
        // Characters above 127 as \u escapes, so the output is plain ASCII.
        out << object.dump(2, ' ', true) << "\n";
    } else {
        out << "File: " << MessageToUtf8(key.GetFileName()) << "\n";
        out << "Status: " << result.Status << "\n";
        out << "Message: " << MessageToUtf8(result.Message) << "\n";
        PrintLines(KeyRecordToJson(key), out, {"FileName", "ShowFileDialog"});
        PrintLines(KeyFacts(key), out);
    }
    return ExitFor(result.Status);
}

// ---- check ----

int RunCheck(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
    int exitStatus = kExitSuccess;
    for (const std::string& file : files) {
        try {
            TZarnPublicKey key;
            const TImportResult result = ImportFile(file, key);
            out << MessageToUtf8(file) << ": " << result.Status << " " << MessageToUtf8(result.Message)
                << "\n";
            if (result.Status != 0)
                exitStatus = std::max(exitStatus, kExitStatusNotZero);
        } catch (const std::exception& error) {
            err << "zarnkey: " << ErrorText(error) << "\n";
            out << MessageToUtf8(file) << ": error\n";
            exitStatus = kExitRaisedError;
        }
    }
    return exitStatus;
}

// ---- export ----

struct TExportOptions {
    std::string Out;
    bool Replace = false;
    std::string FromJson;
    std::string FromKey;
    std::string PassphraseFile;
    std::optional<std::string> OwnerId, Index, ExpDate, HashIndicator, AlgorithmIndicator;
    std::optional<std::string> ModulusLength, ExponentLength, Modulus, Exponent;
};

// Raises EInOutError with the system's reason when the file cannot be opened or is a folder.
nlohmann::json ReadJsonFile(const std::string& fileName) {
    const std::string cannotOpen = "Cannot open file \"" + fileName + "\"";
    if (DirectoryExists(fileName))
        throw EInOutError(cannotOpen + ": " + std::strerror(EISDIR));
    errno = 0;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        const int error = errno;
        throw EInOutError(error != 0 ? cannotOpen + ": " + std::strerror(error) : cannotOpen);
    }
    try {
        return nlohmann::json::parse(in);
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

int RunExport(const TExportOptions& options, std::ostream& out, std::ostream& err) {
    TZarnPublicKey key;
    if (!options.FromJson.empty())
        SetFromJson(options.FromJson, key);
    else if (!options.FromKey.empty())
        SetFromKey(options, key, err);
    else
        SetFromOptions(options, key);
    const std::string existsText = "zarnkey: " + FileExistsText(options.Out) + "\n";
    const TRecordExport exported = ExportRecordFile(key, options.Out, options.Replace);
    if (exported.AppearedMeanwhile) {
        // The file appeared after the check: the same outcome as a file that was there before.
        err << existsText;
        return kExitStatusNotZero;
    }
    out << "File: " << MessageToUtf8(options.Out) << "\n";
    out << "Status: " << exported.Status << "\n";
    out << "Message: " << exported.Message << "\n";
    if (!exported.Written) {
        err << existsText;
        return ExitFor(exported.Status);
    }
    out << "HashResult: " << Latin1ToJsonString(key.GetHashResult()) << "\n";
    if (exported.Reimport.Status != 0)
        err << "zarnkey: warning: the written file does not import cleanly: " << exported.Reimport.Status
            << " " << MessageToUtf8(exported.Reimport.Message) << "\n";
    return ExitFor(exported.Status);
}

// ---- the application ----

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
};

void AddRecordOption(CLI::App& command, std::optional<std::string>& target, const std::string& names,
                     const std::string& description, std::vector<CLI::Option*>& record) {
    record.push_back(command.add_option(names, target, description));
}

// The record options that an export needs, by where the record comes from.
struct TExportRequirements {
    std::vector<CLI::Option*> FromOptions; // without --from-json or --from-key
    std::vector<CLI::Option*> FromKey;     // with --from-key
};

TExportRequirements AddExportOptions(CLI::App& command, TExportOptions& options) {
    command.add_option("--out,-o", options.Out, "the key file to write")->required();
    command.add_flag("--force,-f", options.Replace,
                     "replace the file when it exists; without it an existing file, also one that appears "
                     "during the export, is left as it is (exit status 1)");
    std::vector<CLI::Option*> record;
    AddRecordOption(command, options.OwnerId, "--owner-id,--PublicKeyOwnerId",
                    "owner identifier digits (blanks removed, cut to 10)", record);
    AddRecordOption(command, options.Index, "--index,--PublicKeyIndex", "key index, 0..255", record);
    AddRecordOption(command, options.ExpDate, "--exp-date,--PublicKeyExpDate", "expiration date digits (4)",
                    record);
    AddRecordOption(command, options.HashIndicator, "--hash-indicator,--HashAlgorithmIndicator",
                    "hash algorithm indicator (1 = SHA-1; any other value writes no hash; 1 with --from-key "
                    "when not given)",
                    record);
    AddRecordOption(command, options.AlgorithmIndicator,
                    "--algorithm-indicator,--PublicKeyAlgorithmIndicator",
                    "public-key algorithm indicator (1 with --from-key when not given)", record);
    const std::size_t keyFields = record.size();
    AddRecordOption(command, options.Modulus, "--modulus,--PublicKeyModulus", "modulus as hexadecimal text",
                    record);
    AddRecordOption(command, options.Exponent, "--exponent,--PublicKeyExponent",
                    "exponent as hexadecimal text", record);
    const std::size_t required = record.size();
    AddRecordOption(command, options.ModulusLength, "--modulus-length,--PublicKeyModulusLength",
                    "modulus length in bytes (default: trimmed modulus text length div 2)", record);
    AddRecordOption(command, options.ExponentLength, "--exponent-length,--PublicKeyExponentLength",
                    "exponent length in bytes (default: trimmed exponent text length div 2)", record);
    CLI::Option* fromJson = command.add_option(
        "--from-json", options.FromJson, "take the record from a JSON object as `show --json` prints it");
    CLI::Option* fromKey = command.add_option(
        "--from-key", options.FromKey,
        "take the modulus, the exponent and their lengths from an RSA public key, private key or X.509 "
        "certificate (PEM or DER)");
    command
        .add_option("--passphrase-file", options.PassphraseFile,
                    "the passphrase of an encrypted --from-key key: the first line of this file")
        ->needs(fromKey);
    for (CLI::Option* option : record)
        option->excludes(fromJson);
    fromKey->excludes(fromJson);
    for (std::size_t i = keyFields; i < record.size(); ++i)
        record[i]->excludes(fromKey);
    TExportRequirements requirements;
    requirements.FromOptions.assign(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(required));
    requirements.FromKey.assign(record.begin(), record.begin() + 3);
    return requirements;
}

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

template <typename F>
int WithCheckedOutput(std::ostream& out, F run) {
    const int exitStatus = run();
    CheckOutput(out);
    return exitStatus;
}

} // namespace

int RunZarnKey(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"zarnkey: import, check and export Zarn public key files, convert their keys to and from\n"
                 "the standard RSA key formats, and generate RSA key pairs"};
    app.formatter(std::make_shared<TStableHelpFormatter>());
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("zarnkey ") + kProductVersion,
                         "print the version and exit");
    app.footer("Exit status: 0 when the operation's status is 0, 1 for any other status, for an export\n"
               "without --force onto a file that exists and for a key or passphrase that cannot be used, 2\n"
               "for a usage error, 3 for an error such as a file that cannot be read or written or standard\n"
               "output that cannot be written (its text goes to standard error).");

    TShowOptions show;
    CLI::App* showCommand =
        app.add_subcommand("show", "import a key file and print its status, message and fields");
    showCommand->add_option("file", show.File, "the key file")->required();
    showCommand->add_flag("--json", show.Json, "print one JSON object");

    std::vector<std::string> checkFiles;
    CLI::App* checkCommand =
        app.add_subcommand("check", "import key files and print one status line for each");
    checkCommand->add_option("files", checkFiles, "the key files")->required();

    TExportOptions exportOptions;
    CLI::App* exportCommand = app.add_subcommand(
        "export", "write a key file from the record fields given as options or as a JSON object");
    const TExportRequirements exportRequirements = AddExportOptions(*exportCommand, exportOptions);

    TGenRsaOptions genRsa;
    CLI::App* genRsaCommand = AddGenRsaCommand(app, genRsa);

    TPubKeyOptions pubKey;
    CLI::App* pubKeyCommand = AddPubKeyCommand(app, pubKey);

    std::string helpTopic;
    CLI::App* helpCommand =
        app.add_subcommand("help", "print this help, or with COMMAND what `COMMAND --help` prints");
    std::vector<std::string> commandNames;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        commandNames.push_back(command->get_name());
    helpCommand->add_option("command", helpTopic, "the command")->check(CLI::IsMember(commandNames));

    try {
        const std::vector<std::string> args = SplitEmptyValues(argc, argv);
        std::vector<const char*> pointers;
        for (const std::string& arg : args)
            pointers.push_back(arg.c_str());
        app.parse(static_cast<int>(pointers.size()), pointers.data());
        if (exportCommand->parsed() && exportOptions.FromJson.empty()) {
            const bool fromKey = !exportOptions.FromKey.empty();
            for (CLI::Option* option : fromKey ? exportRequirements.FromKey : exportRequirements.FromOptions)
                if (option->count() == 0)
                    throw CLI::RequiredError(option->get_name() + (fromKey
                                                                       ? " is required with --from-key"
                                                                       : " is required without --from-json"),
                                             CLI::ExitCodes::RequiredError);
        }
    } catch (const CLI::ParseError& error) {
        return app.exit(error, out, err) == 0 ? kExitSuccess : kExitUsage;
    }
    if (helpCommand->parsed()) {
        // The same text as --help, by the same road.
        std::vector<const char*> helpArgs = {argv[0]};
        if (!helpTopic.empty())
            helpArgs.push_back(helpTopic.c_str());
        helpArgs.push_back("--help");
        return RunZarnKey(static_cast<int>(helpArgs.size()), helpArgs.data(), out, err);
    }

    try {
        if (showCommand->parsed())
            return WithCheckedOutput(out, [&] { return RunShow(show, out); });
        if (checkCommand->parsed())
            return WithCheckedOutput(out, [&] { return RunCheck(checkFiles, out, err); });
        if (genRsaCommand->parsed())
            return WithCheckedOutput(out, [&] { return RunGenRsa(genRsa, out, err); });
        if (pubKeyCommand->parsed())
            return WithCheckedOutput(out, [&] { return RunPubKey(pubKey, out, err); });
        return WithCheckedOutput(out, [&] { return RunExport(exportOptions, out, err); });
    } catch (const EKeyFormatError& error) {
        // Input that is no usable key is bad input, as a record with a bad status is.
        out.flush();
        err << "zarnkey: " << ErrorText(error) << "\n";
        return kExitStatusNotZero;
    } catch (const EPassphraseFileError& error) {
        out.flush();
        err << "zarnkey: " << ErrorText(error) << "\n";
        return kExitStatusNotZero;
    } catch (const std::exception& error) {
        out.flush();
        err << "zarnkey: " << ErrorText(error) << "\n";
        return kExitRaisedError;
    }
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
