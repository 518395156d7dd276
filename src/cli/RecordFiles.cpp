#include "cli/RecordFiles.h"

#include "encoding/UTHHexUtilities.h"
#include "platform/AtomicWriter.h"
#include "platform/Files.h"
#include "platform/TextEncoding.h"

#include <algorithm>

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
