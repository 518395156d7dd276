#include "cli/GenRsaCommand.h"

#include "ConsoleKeyGenHost.h"
#include "cli/Command.h"
#include "cli/KeyInputs.h"
#include "cli/RecordFiles.h"
#include "crypto/RsaKeyGeneration.h"
#include "encoding/STRStringUnit.h"
#include "encoding/UTHHexUtilities.h"
#include "platform/AtomicWriter.h"
#include "platform/Conversions.h"
#include "platform/Files.h"
#include "platform/TextEncoding.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace zarn {

namespace {

const char* OutcomeName(TKeyGenOutcome outcome) {
    switch (outcome) {
    case kgValid:
        return "kgValid";
    case kgStopped:
        return "kgStopped";
    case kgMaxRunsReached:
        return "kgMaxRunsReached";
    }
    return "";
}

// The text the key generation window shows in place of the modulus for the outcome, if any.
std::string OutcomeMessage(TKeyGenOutcome outcome) {
    switch (outcome) {
    case kgStopped:
        return "Stopped by user";
    case kgMaxRunsReached:
        return "Max. runs reached, no valid key pair generated";
    case kgValid:
        break;
    }
    return "";
}

// The files a valid pair was written to.
struct TWrittenFiles {
    std::string PrivateKey;
    std::string Record;
};

// The outcome on `out`. Without a private key file the private exponent is printed with the rest;
// with one it is printed nowhere, and the files written are named instead.
void PrintResult(const TKeyGenResult& result, const TConsoleHost& host, const TGenRsaOptions& options,
                 const TWrittenFiles& written, std::ostream& out) {
    const std::int32_t resultingLength = static_cast<std::int32_t>(host.Modulus.size() / 2);
    const bool printPrivate = options.PrivateOut.empty();
    nlohmann::ordered_json object;
    object["outcome"] = OutcomeName(result.Outcome);
    object["runs"] = result.Runs;
    object["PublicKeyModulus"] = host.Modulus;
    object["PublicKeyExponent"] = host.Exponent;
    object["PrivateKeyModulus"] = host.Modulus;
    if (printPrivate)
        object["PrivateKeyExponent"] = host.PrivateExponent;
    object["ResultingLength"] = resultingLength;
    if (!written.PrivateKey.empty())
        object["PrivateKeyFile"] = MessageToUtf8(written.PrivateKey);
    if (!written.Record.empty())
        object["RecordFile"] = MessageToUtf8(written.Record);
    if (options.Json) {
        out << object.dump(2) << "\n";
        return;
    }
    // The text form names the outcome and the runs with capitals, as the window's labels do.
    PrintNameValueLines(object, out, {}, {{"outcome", "Outcome"}, {"runs", "Runs"}});
}

// ---- checks before the generation ----

std::string ValidatorText(const std::string& text, const std::string& what) {
    return "'" + text + "' is not " + what;
}

// The text of an option as the record holds it: bytes 0..255, blanks and no-break spaces removed.
std::string RecordDigits(const std::string& option) {
    const std::optional<std::string> latin1 = Utf8ToLatin1(option);
    return latin1 ? RemoveBlanks(*latin1) : option;
}

CLI::Validator OwnerIdValidator() {
    return CLI::Validator(
        [](std::string& text) {
            const std::string digits = RecordDigits(text);
            const bool valid = digits.size() == 10 && std::all_of(digits.begin(), digits.end(), [](char c) {
                                   return (c >= '0' && c <= '9') || c == 'F' || c == 'f';
                               });
            return valid ? std::string()
                         : ValidatorText(text,
                                         "an owner identifier: 10 decimal digits (F fills unused places)");
        },
        "10 DIGITS");
}

CLI::Validator ExpDateValidator() {
    return CLI::Validator(
        [](std::string& text) {
            const std::string digits = RecordDigits(text);
            const bool valid = digits.size() == 4 && std::all_of(digits.begin(), digits.end(),
                                                                 [](char c) { return c >= '0' && c <= '9'; });
            return valid ? std::string() : ValidatorText(text, "an expiration date: 4 decimal digits (MMYY)");
        },
        "MMYY");
}

// Raises when `fileName` cannot be written as asked; returns false, with the text on `err`, when it
// exists and may not be replaced.
bool TargetCanBeWritten(const std::string& fileName, const TWriteOptions& write, std::ostream& err) {
    try {
        CheckFileCanBeWritten(fileName, write);
    } catch (const EFileExists&) {
        ReportFileExists(err, fileName);
        return false;
    }
    return true;
}

// ---- the files ----

// How the private key is written: mode 0600, the writer's own file, never over another user's.
TWriteOptions PrivateKeyWrite(const TGenRsaOptions& options) {
    TWriteOptions write;
    write.MayReplace = options.Replace;
    write.Mode = S_IRUSR | S_IWUSR;
    write.OwnedByWriter = true;
    return write;
}

// The private key from the generation's own numbers: its primes come with the result, checked
// against n, e and d before anything is written.
void WritePrivateKey(const TConsoleHost& host, const TKeyGenResult& result, const TGenRsaOptions& options,
                     const std::optional<std::string>& passphrase) {
    const TRsaPrivateKey key = RsaPrivateKeyFromPrimes(
        HexToBytes(host.Modulus), HexToBytes(host.Exponent), HexToBytes(host.PrivateExponent),
        HexToBytes(result.PrimePHex), HexToBytes(result.PrimeQHex));
    WriteFileAtomically(options.PrivateOut, EncodeRsaPrivateKeyPem(key, passphrase),
                        PrivateKeyWrite(options));
}

// Writes the record; returns the exit status, with the reason on `err` when it is not 0.
int WriteRecord(const TConsoleHost& host, const TGenRsaOptions& options, std::ostream& err) {
    TZarnPublicKey record;
    record.SetPublicKeyOwnerId(RecordDigits(options.OwnerId));
    record.SetPublicKeyIndex(StrToInt(options.Index));
    record.SetPublicKeyExpDate(RecordDigits(options.ExpDate));
    record.SetHashAlgorithmIndicator(1);
    record.SetPublicKeyAlgorithmIndicator(1);
    record.SetPublicKeyModulus(host.Modulus);
    record.SetPublicKeyExponent(host.Exponent);
    record.SetPublicKeyModulusLength(static_cast<std::int32_t>(host.Modulus.size() / 2));
    record.SetPublicKeyExponentLength(static_cast<std::int32_t>(host.Exponent.size() / 2));
    const TRecordExport exported = ExportRecordFile(record, options.RecordOut, options.Replace);
    if (!exported.Written)
        return ReportFileExists(err, options.RecordOut);
    if (exported.Status != 0 || exported.Reimport.Status != 0) {
        PrintError(err, "the record written to " + Quoted(options.RecordOut) +
                            " does not import cleanly: " + std::to_string(exported.Reimport.Status) + " " +
                            MessageToUtf8(exported.Reimport.Message));
        return kExitStatusNotZero;
    }
    return kExitSuccess;
}

// The genrsa subcommand with its options, added to `app`.
CLI::App* AddGenRsaOptions(CLI::App& app, TGenRsaOptions& options) {
    CLI::App* command = app.add_subcommand(
        "genrsa", "generate an RSA key pair (public exponent 65537); Ctrl-C stops after the current run");
    command
        ->add_option("--bytes", options.Bytes,
                     "modulus length in bytes: an even number from " + std::to_string(kMinGenRsaBytes) +
                         " to " + std::to_string(kMaxGenRsaBytes) + " (default 128)")
        ->check(CLI::Validator(
            [](std::string& text) {
                std::int32_t bytes = 0;
                if (CLI::detail::lexical_cast(text, bytes) && bytes >= kMinGenRsaBytes &&
                    bytes <= kMaxGenRsaBytes && bytes % 2 == 0)
                    return std::string();
                return "'" + text + "' is not a length genrsa accepts: an even number from " +
                       std::to_string(kMinGenRsaBytes) + " to " + std::to_string(kMaxGenRsaBytes);
            },
            "EVEN 4..254"));
    command
        ->add_option("--attempts", options.Attempts,
                     "start a new generation when one ends without a valid pair after its 50 runs, up to "
                     "this many generations in all (default 3)")
        ->check(IntegerValidator(1, 1000, "a number of attempts from 1 to 1000", "1..1000"));
    command->add_flag("--json", options.Json, "print one JSON object");
    CLI::Option* privateOut = command->add_option(
        "--private-out", options.PrivateOut,
        "write the private key to this file (PKCS#8 PEM, mode 0600) and print the private exponent nowhere");
    privateOut->check(NonEmptyFileName());
    command
        ->add_option("--passphrase-file", options.PassphraseFile,
                     "encrypt the private key (AES-256, PBKDF2) with the first line of this file")
        ->needs(privateOut)
        ->check(NonEmptyFileName());
    CLI::Option* recordOut = command->add_option(
        "--record-out", options.RecordOut,
        "also write the public key as a key record (both indicators 1); needs --private-out");
    recordOut->needs(privateOut)->check(NonEmptyFileName());
    command
        ->add_flag("--force,-f", options.Replace,
                   "replace the --private-out and --record-out files when they exist; without it an "
                   "existing file is kept and nothing is generated (exit status 1)")
        ->needs(privateOut);
    CLI::Option* ownerId =
        command->add_option("--owner-id", options.OwnerId, "the record's owner identifier (10 digits)");
    CLI::Option* index = command->add_option("--index", options.Index, "the record's key index, 0..255");
    CLI::Option* expDate =
        command->add_option("--exp-date", options.ExpDate, "the record's expiration date, 4 digits (MMYY)");
    ownerId->check(OwnerIdValidator());
    index->check(IntegerValidator(0, 255, "a key index from 0 to 255", "0..255"));
    expDate->check(ExpDateValidator());
    for (CLI::Option* field : {ownerId, index, expDate}) {
        field->needs(recordOut);
        recordOut->needs(field);
    }
    SetExitStatuses(
        *command,
        {{kExitSuccess, "for a valid key pair (and its files written)"},
         {kExitStatusNotZero,
          "when stopped, when no attempt of 50 runs gave one, when a file exists without --force or the "
          "passphrase file has no usable first line"},
         {kExitUsage, "for a length or record field it does not accept"},
         {kExitRaisedError, "when a file or standard output cannot be written"}},
        "Without --private-out the private key is printed on standard output, in hexadecimal, "
        "with the public key; with it, the private key goes to that file only.");
    return command;
}

class TGenRsaCommand : public TCommand {
public:
    CLI::App* Add(CLI::App& app) override { return AddGenRsaOptions(app, m_options); }
    int Run(std::ostream& out, std::ostream& err) override { return RunGenRsa(m_options, out, err); }

private:
    TGenRsaOptions m_options;
};

} // namespace

int RunGenRsa(const TGenRsaOptions& options, std::ostream& out, std::ostream& err) {
    // Everything that can refuse the pair is checked before any key is generated.
    const std::optional<std::string> passphrase = ReadPassphraseOption(options.PassphraseFile, err);
    // One file under two names (links, bind mounts) is found by its device and inode.
    if (!options.RecordOut.empty() && SameFile(options.RecordOut, options.PrivateOut)) {
        PrintError(err, "--record-out and --private-out name the same file");
        return kExitUsage;
    }
    TWriteOptions record;
    record.MayReplace = options.Replace;
    if (!options.PrivateOut.empty() && !TargetCanBeWritten(options.PrivateOut, PrivateKeyWrite(options), err))
        return kExitStatusNotZero;
    if (!options.RecordOut.empty() && !TargetCanBeWritten(options.RecordOut, record, err))
        return kExitStatusNotZero;

    const bool terminal = &err == &std::cerr && isatty(STDERR_FILENO) != 0;
    TConsoleHost host(err, terminal);
    TKeyGenResult result;
    try {
        TInterruptAsStopRequest interrupt;
        for (std::int32_t attempt = 1;; ++attempt) {
            result = GenerateRsaKeyPair(options.Bytes, host);
            if (result.Outcome != kgMaxRunsReached || attempt >= options.Attempts)
                break;
            host.Finish("");
            PrintError(err, "no valid key pair in " + std::to_string(result.Runs) +
                                " runs; starting attempt " + std::to_string(attempt + 1) + " of " +
                                std::to_string(options.Attempts));
        }
    } catch (...) {
        host.Finish("");
        throw;
    }
    host.Finish(OutcomeMessage(result.Outcome));

    TWrittenFiles written;
    if (result.Outcome == kgValid && !options.PrivateOut.empty()) {
        try {
            WritePrivateKey(host, result, options, passphrase);
        } catch (const EFileExists&) {
            return ReportFileExists(err, options.PrivateOut, "it appeared during the generation");
        }
        written.PrivateKey = options.PrivateOut;
        if (!options.RecordOut.empty()) {
            const std::string kept = "the private key is in " + Quoted(options.PrivateOut) +
                                     "; `zarnkey export --from-key` makes the record from it";
            // The record never replaces the private key just written, whatever name reaches it now.
            if (SameFile(options.RecordOut, options.PrivateOut)) {
                PrintError(err, Quoted(options.RecordOut) +
                                    " is now the private key's file; the record is not written "
                                    "over it. " +
                                    kept);
                return kExitStatusNotZero;
            }
            int exitStatus = kExitRaisedError;
            try {
                exitStatus = WriteRecord(host, options, err);
            } catch (const EInOutError& error) {
                throw EInOutError(error.Message() + "; " + kept);
            }
            if (exitStatus != kExitSuccess) {
                PrintError(err, MessageToUtf8(kept));
                return exitStatus;
            }
            written.Record = options.RecordOut;
        }
    }
    PrintResult(result, host, options, written, out);
    return result.Outcome == kgValid ? kExitSuccess : kExitStatusNotZero;
}

std::unique_ptr<TCommand> MakeGenRsaCommand() {
    return std::make_unique<TGenRsaCommand>();
}

} // namespace zarn
