#include "cli/KeyFormatCommands.h"

#include "cli/InputFiles.h"
#include "cli/RecordFiles.h"
#include "cli/ZarnKeyCommandLine.h"
#include "platform/TextEncoding.h"
#include "platform/TextFiles.h"

#include <iostream>
#include <unistd.h>

namespace zarn {

CLI::App* AddPubKeyCommand(CLI::App& app, TPubKeyOptions& options) {
    CLI::App* command = app.add_subcommand(
        "pubkey", "print the RSA public key of a key file as SubjectPublicKeyInfo PEM, DER or PKCS#1");
    command->add_option("file", options.File, "the key file; its record must import with status 0")
        ->required();
    command->add_flag("--der", options.Der, "DER instead of PEM (binary: not written to a terminal)");
    command->add_flag("--pkcs1", options.Pkcs1, "PKCS#1 RSAPublicKey instead of SubjectPublicKeyInfo");
    CLI::Option* out = command->add_option("--out,-o", options.Out, "write the key to this file");
    command
        ->add_flag("--force,-f", options.Replace,
                   "replace the --out file when it exists; without it an existing file is kept (exit "
                   "status 1)")
        ->needs(out);
    command->footer("Exit status: 0 when the key was written, 1 when the record does not import with status\n"
                    "0 or --out exists without --force, 2 for a usage error (also DER to a terminal), 3 for\n"
                    "a file that cannot be read or written.");
    return command;
}

int RunPubKey(const TPubKeyOptions& options, std::ostream& out, std::ostream& err) {
    if (options.Der && options.Out.empty() && &out == &std::cout && isatty(STDOUT_FILENO) != 0) {
        err << "zarnkey: pubkey: DER is binary and standard output is a terminal; use --out FILE or "
               "redirect standard output\n";
        return kExitUsage;
    }
    TZarnPublicKey record;
    const TImportResult imported = ImportFile(options.File, record);
    if (imported.Status != 0) {
        err << "zarnkey: " << MessageToUtf8(options.File) << ": status " << imported.Status << ": "
            << MessageToUtf8(imported.Message) << "; only a record that imports with status 0 is converted\n";
        return kExitStatusNotZero;
    }
    const std::optional<TRsaPublicKey> key = RecordRsaKey(record);
    if (!key)
        throw EKeyFormatError("The record in \"" + options.File +
                              "\" holds no RSA key: its modulus or exponent is zero");
    const TPublicKeyFormat format =
        options.Pkcs1 ? (options.Der ? TPublicKeyFormat::Pkcs1Der : TPublicKeyFormat::Pkcs1Pem)
                      : (options.Der ? TPublicKeyFormat::SpkiDer : TPublicKeyFormat::SpkiPem);
    const std::string encoded = EncodeRsaPublicKey(*key, format);
    if (options.Out.empty()) {
        out << encoded;
        return kExitSuccess;
    }
    TWriteOptions write;
    write.MayReplace = options.Replace;
    try {
        WriteFileAtomically(options.Out, encoded, write);
    } catch (const EFileExists&) {
        err << "zarnkey: " << FileExistsText(options.Out) << "\n";
        return kExitStatusNotZero;
    }
    return kExitSuccess;
}

std::optional<std::string> ReadPassphraseOption(const std::string& fileName, std::ostream& err) {
    if (fileName.empty())
        return std::nullopt;
    TPassphrase passphrase = ReadPassphraseFile(fileName);
    if (passphrase.ReadableByOthers)
        err << "zarnkey: warning: the passphrase file " << MessageToUtf8(fileName)
            << " can be read by its group or by others (chmod 600 it)\n";
    return std::move(passphrase.Text);
}

TRsaPublicKey ReadKeyFile(const std::string& fileName, const std::optional<std::string>& passphrase,
                          std::ostream& err) {
    TRsaPublicKeySource source = ReadRsaPublicKey(ReadInputFile(fileName), fileName, passphrase);
    if (!source.Note.empty())
        err << "zarnkey: " << MessageToUtf8(source.Note) << "\n";
    return std::move(source.Key);
}

} // namespace zarn
