// The key and passphrase files that zarnkey's commands read, with their notes and warnings on
// standard error.
#pragma once

#include "keyformats/KeyFormats.h"

#include <iosfwd>
#include <optional>
#include <string>

namespace zarn {

// The passphrase in the first line of `fileName` (ReadPassphraseFile), with a warning on `err` when
// the file can be read by its group or by others. Nothing for an empty `fileName`.
std::optional<std::string> ReadPassphraseOption(const std::string& fileName, std::ostream& err);

// The RSA public key in the key, key pair or certificate file `fileName` (ReadRsaPublicKey), with
// the note on `err` when the file held several keys or certificates.
TRsaPublicKey ReadKeyFile(const std::string& fileName, const std::optional<std::string>& passphrase,
                          std::ostream& err);

} // namespace zarn
