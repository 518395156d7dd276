// zarnkey pubkey FILE [--der] [--pkcs1] [--out OUT [--force]]: the RSA public key of the key file
// FILE as SubjectPublicKeyInfo PEM, as DER with --der, or as PKCS#1 RSAPublicKey with --pkcs1 (PEM,
// or DER with both). Only a record that imports with status 0 is converted. DER is binary and is
// not written to a terminal. With --out the key goes to OUT through the atomic writer, as a new
// file gets it (0666 less the umask), and an existing OUT is replaced only with --force.
#include "cli/Command.h"
#include "cli/RecordFiles.h"
#include "keyformats/KeyFormats.h"
#include "platform/AtomicWriter.h"
#include "platform/TextEncoding.h"

#include <iostream>
#include <unistd.h>

namespace zarn {

namespace {

class TPubKeyCommand : public TCommand {
public:
    CLI::App* Add(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "pubkey", "print the RSA public key of a key file as SubjectPublicKeyInfo PEM, DER or PKCS#1");
        command->add_option("file", m_file, "the key file; its record must import with status 0")
            ->required()
            ->check(NonEmptyFileName());
        command->add_flag("--der", m_der, "DER instead of PEM (binary: not written to a terminal)");
        command->add_flag("--pkcs1", m_pkcs1, "PKCS#1 RSAPublicKey instead of SubjectPublicKeyInfo");
        CLI::Option* out =
            command->add_option("--out,-o", m_out, "write the key to this file")->check(NonEmptyFileName());
        command
            ->add_flag("--force,-f", m_replace,
                       "replace the --out file when it exists; without it an existing file is kept (exit "
                       "status 1)")
            ->needs(out);
        SetExitStatuses(*command,
                        {{kExitSuccess, "when the key was written"},
                         {kExitStatusNotZero,
                          "when the record does not import with status 0 or --out exists without --force"},
                         {kExitUsage, "for a usage error (also DER to a terminal)"},
                         {kExitRaisedError, "for a file that cannot be read or written"}});
        return command;
    }

    int Run(std::ostream& out, std::ostream& err) override {
        if (m_der && m_out.empty() && &out == &std::cout && isatty(STDOUT_FILENO) != 0) {
            PrintError(err, "DER is binary and standard output is a terminal; use --out FILE or "
                            "redirect standard output");
            return kExitUsage;
        }
        TZarnPublicKey record;
        const TImportResult imported = ImportFile(m_file, record);
        if (imported.Status != 0) {
            PrintError(err, Quoted(m_file) + ": status " + std::to_string(imported.Status) + ": " +
                                MessageToUtf8(imported.Message) +
                                "; only a record that imports with status 0 is converted");
            return kExitStatusNotZero;
        }
        const std::optional<TRsaPublicKey> key = RecordRsaKey(record);
        if (!key)
            throw EKeyFormatError("The record in \"" + m_file +
                                  "\" holds no RSA key: its modulus or exponent is zero");
        CheckUsableRsaKey(*key, "the record in " + Quoted(m_file));
        const std::string encoded = EncodeRsaPublicKey(*key, Format());
        if (m_out.empty()) {
            out << encoded;
            return kExitSuccess;
        }
        TWriteOptions write;
        write.MayReplace = m_replace;
        try {
            WriteFileAtomically(m_out, encoded, write);
        } catch (const EFileExists&) {
            return ReportFileExists(err, m_out);
        }
        return kExitSuccess;
    }

private:
    TPublicKeyFormat Format() const {
        if (m_pkcs1)
            return m_der ? TPublicKeyFormat::Pkcs1Der : TPublicKeyFormat::Pkcs1Pem;
        return m_der ? TPublicKeyFormat::SpkiDer : TPublicKeyFormat::SpkiPem;
    }

    std::string m_file;
    bool m_der = false;
    bool m_pkcs1 = false;
    std::string m_out;
    bool m_replace = false;
};

} // namespace

std::unique_ptr<TCommand> MakePubKeyCommand() {
    return std::make_unique<TPubKeyCommand>();
}

} // namespace zarn
