// The key record's files as zarnkey's commands use them: an import without a dialog, an export
// through the component's own ExportKey with the command line's answers to its save dialog, and the
// record's RSA key for the standard formats.
#pragma once

#include "keyformats/KeyFormats.h"
#include "keyrecord/ZarnPublicKey.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace zarn {

// Answers the component's dialogs with a path given on the command line. The save dialog's
// question before replacing a file is answered "no" unless `replace` is set; a file that appears
// after that answer is never replaced unless `replace` is set.
class TCommandLineDialogs : public IFileDialogs {
public:
    TCommandLineDialogs(std::string path, bool replace) : m_path(std::move(path)), m_replace(replace) {}

    std::optional<std::string> ExecuteOpenDialog(const std::string&) override { return m_path; }
    std::optional<std::string> ExecuteSaveDialog(const std::string&, bool overwritePrompt) override;
    std::optional<TSaveChoice> ExecuteSaveDialogForWrite(const std::string& initialFolder,
                                                         bool overwritePrompt) override;
    // True once the save dialog refused to replace an existing file.
    bool RefusedReplace() const { return m_refusedReplace; }

private:
    std::string m_path;
    bool m_replace;
    bool m_refusedReplace = false;
};

struct TImportResult {
    std::int32_t Status = 0;
    std::string Message;
};

// Imports `fileName` into `key` without a dialog.
TImportResult ImportFile(const std::string& fileName, TZarnPublicKey& key);

// What ExportRecordFile did.
struct TRecordExport {
    // False when an existing file was kept because `replace` was not set; then nothing was written.
    bool Written = false;
    // Set with Written false when the file appeared after the save dialog's check, during the write.
    bool AppearedMeanwhile = false;
    std::int32_t Status = 0; // ExportKey's status and message (not set when AppearedMeanwhile)
    std::string Message;
    TImportResult Reimport; // the written file imported again (only when Written)
};

// Writes `key` to `fileName` through ExportKey, replacing a file only when `replace` is set, and
// imports the written file again. Errors of the write other than a file that exists raise.
TRecordExport ExportRecordFile(TZarnPublicKey& key, const std::string& fileName, bool replace);

// What `show --json` prints of an imported record: "status", "message", every property,
// "FileName", the key's "KeySizeBits" and "KeyFingerprintSha256" where the record's numbers make an
// RSA key, and "ExpiresOn" (KeyExpiresOnText) where the record has an expiration date.
nlohmann::ordered_json RecordReport(const TZarnPublicKey& key, const TImportResult& result);

// What importing `key` would give once it is written: the record exported through ExportKey into a
// private temporary folder, imported from there, and removed. Sets the key's HashResult as the export does.
TImportResult ImportAfterExport(TZarnPublicKey& key);

// The record's modulus and exponent as an RSA public key, or nothing when either text is empty,
// not an even number of hexadecimal digits, or zero.
std::optional<TRsaPublicKey> RecordRsaKey(const TZarnPublicKey& key);

} // namespace zarn
