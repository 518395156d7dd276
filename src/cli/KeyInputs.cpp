#include "cli/KeyInputs.h"

#include "cli/Command.h"
#include "keyformats/InputFiles.h"
#include "platform/TextEncoding.h"

#include <ostream>

namespace zarn {

std::optional<std::string> ReadPassphraseOption(const std::string& fileName, std::ostream& err) {
    if (fileName.empty())
        return std::nullopt;
    TPassphrase passphrase = ReadPassphraseFile(fileName);
    if (passphrase.ReadableByOthers)
        PrintError(err, "warning: the passphrase file " + Quoted(fileName) +
                            " can be read by its group or by others (chmod 600 it)");
    return std::move(passphrase.Text);
}

TRsaPublicKey ReadKeyFile(const std::string& fileName, const std::optional<std::string>& passphrase,
                          std::ostream& err) {
    TRsaPublicKeySource source = ReadRsaPublicKey(ReadInputFile(fileName), fileName, passphrase);
    for (const std::string& note : source.Notes)
        PrintError(err, "note: " + MessageToUtf8(note));
    return std::move(source.Key);
}

} // namespace zarn
