#include "cli/RecordFiles.h"

#include "cli/KeyRecordJson.h"
#include "encoding/UTHHexUtilities.h"
#include "keyrecord/KeyExpiry.h"
#include "platform/AtomicWriter.h"
#include "platform/Files.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace zarn {

std::optional<std::string> TCommandLineDialogs::ExecuteSaveDialog(const std::string&, bool overwritePrompt) {
    if (overwritePrompt && !m_replace && FileExists(m_path)) {
        m_refusedReplace = true;
        return std::nullopt;
    }
    return m_path;
}

// Replacing is asked for by --force alone: a file that appears after the check above is not replaced.
std::optional<IFileDialogs::TSaveChoice>
TCommandLineDialogs::ExecuteSaveDialogForWrite(const std::string& initialFolder, bool overwritePrompt) {
    std::optional<std::string> chosen = ExecuteSaveDialog(initialFolder, overwritePrompt);
    if (!chosen)
        return std::nullopt;
    return TSaveChoice{std::move(*chosen), m_replace || !overwritePrompt};
}

TImportResult ImportFile(const std::string& fileName, TZarnPublicKey& key) {
    key.SetShowFileDialog(false);
    key.SetFileName(fileName);
    TImportResult result;
    result.Status = key.ImportKey(result.Message);
    return result;
}

TRecordExport ExportRecordFile(TZarnPublicKey& key, const std::string& fileName, bool replace) {
    TCommandLineDialogs dialogs(fileName, replace);
    // The component does not keep the dialogs beyond this call, however it ends.
    struct TDialogsInUse {
        TZarnPublicKey& Key;
        ~TDialogsInUse() { Key.SetFileDialogs(nullptr); }
    } inUse{key};
    key.SetFileDialogs(&dialogs);
    TRecordExport result;
    try {
        result.Status = key.ExportKey(result.Message);
    } catch (const EFileExists&) {
        result.AppearedMeanwhile = true;
        return result;
    }
    result.Written = !dialogs.RefusedReplace();
    if (result.Written) {
        TZarnPublicKey check;
        result.Reimport = ImportFile(fileName, check);
    }
    return result;
}

TImportResult ImportAfterExport(TZarnPublicKey& key) {
    const char* temporary = std::getenv("TMPDIR");
    std::string folder =
        std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") + "/zarnkey-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr)
        RaiseInOutError("Cannot create folder", folder, errno);
    const std::string file = folder + "/record.key";
    struct TRemove {
        const std::string& Folder;
        const std::string& File;
        ~TRemove() {
            unlink(File.c_str());
            rmdir(Folder.c_str());
        }
    } remove{folder, file};
    const TRecordExport exported = ExportRecordFile(key, file, false);
    return exported.Written ? exported.Reimport : TImportResult{exported.Status, exported.Message};
}

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

} // namespace

nlohmann::ordered_json RecordReport(const TZarnPublicKey& key, const TImportResult& result) {
    nlohmann::ordered_json object;
    object["status"] = result.Status;
    object["message"] = MessageToUtf8(result.Message);
    object.update(KeyRecordToJson(key));
    object["FileName"] = MessageToUtf8(key.GetFileName());
    object.update(KeyFacts(key));
    if (!key.GetPublicKeyExpDate().empty())
        object["ExpiresOn"] = KeyExpiresOnText(key.GetPublicKeyExpDate());
    return object;
}

std::optional<TRsaPublicKey> RecordRsaKey(const TZarnPublicKey& key) {
    const auto number = [](const std::string& hex) -> std::optional<std::string> {
        if (hex.empty() || hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), IsHexDigit))
            return std::nullopt;
        const std::string bytes = HexToBytes(hex);
        if (bytes.find_first_not_of('\0') == std::string::npos)
            return std::nullopt;
        return bytes;
    };
    std::optional<std::string> modulus = number(key.GetPublicKeyModulus());
    std::optional<std::string> exponent = number(key.GetPublicKeyExponent());
    if (!modulus || !exponent)
        return std::nullopt;
    return TRsaPublicKey{std::move(*modulus), std::move(*exponent)};
}

} // namespace zarn
