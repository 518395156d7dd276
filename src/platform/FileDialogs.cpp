#include "platform/FileDialogs.h"

#include "platform/Files.h"

namespace zarn {

std::optional<IFileDialogs::TSaveChoice>
IFileDialogs::ExecuteSaveDialogForWrite(const std::string& initialFolder, bool overwritePrompt) {
    std::optional<std::string> chosen = ExecuteSaveDialog(initialFolder, overwritePrompt);
    if (!chosen)
        return std::nullopt;
    const bool mayReplace = !overwritePrompt || FileExists(*chosen);
    return TSaveChoice{std::move(*chosen), mayReplace};
}

std::optional<std::string> TScriptedFileDialogs::ExecuteOpenDialog(const std::string& initialFolder) {
    Asked.push_back({fdOpen, initialFolder, false});
    return Next();
}

std::optional<std::string> TScriptedFileDialogs::ExecuteSaveDialog(const std::string& initialFolder,
                                                                   bool overwritePrompt) {
    Asked.push_back({fdSave, initialFolder, overwritePrompt});
    return Next();
}

std::optional<std::string> TScriptedFileDialogs::Next() {
    if (Answers.empty())
        return std::nullopt;
    std::optional<std::string> answer = Answers.front();
    Answers.pop_front();
    return answer;
}

} // namespace zarn
