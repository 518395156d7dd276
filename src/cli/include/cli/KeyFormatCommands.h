// zarnkey's road between key records and the standard key formats:
//
//   zarnkey pubkey FILE [--der] [--pkcs1] [--out OUT [--force]]
//
// prints the RSA public key of the key file FILE as SubjectPublicKeyInfo PEM, as DER with --der,
// or as PKCS#1 RSAPublicKey with --pkcs1 (PEM, or DER with both). Only a record that imports with
// status 0 is converted; any other status exits 1 with the import's status and message on standard
// error. DER is binary and is not written to a terminal: that is a usage error (exit 2). With --out
// the key goes to OUT through the atomic writer, as a new file gets it (0666 less the umask), and
// an existing OUT is replaced only with --force (else exit 1, nothing written).
//
// The other direction, a key file for a key in one of those formats, is `export --from-key`; its
// reading of the key and of the passphrase lives here too.
#pragma once

#include "cli/KeyFormats.h"

#include <CLI/CLI.hpp>

#include <iosfwd>
#include <optional>
#include <string>

namespace zarn {

struct TPubKeyOptions {
    std::string File;
    bool Der = false;
    bool Pkcs1 = false;
    std::string Out;
    bool Replace = false;
};

// Adds the pubkey subcommand with its options to `app`.
CLI::App* AddPubKeyCommand(CLI::App& app, TPubKeyOptions& options);

// Converts the record's key. Returns the exit status; a key the formats cannot hold raises
// EKeyFormatError, a file that cannot be read or written EInOutError.
int RunPubKey(const TPubKeyOptions& options, std::ostream& out, std::ostream& err);

// The passphrase in the first line of `fileName` (ReadPassphraseFile), with a warning on `err` when
// the file can be read by its group or by others. Nothing for an empty `fileName`.
std::optional<std::string> ReadPassphraseOption(const std::string& fileName, std::ostream& err);

// The RSA public key in the key, key pair or certificate file `fileName` (ReadRsaPublicKey), with
// the note on `err` when the file held several keys or certificates.
TRsaPublicKey ReadKeyFile(const std::string& fileName, const std::optional<std::string>& passphrase,
                          std::ostream& err);

} // namespace zarn
