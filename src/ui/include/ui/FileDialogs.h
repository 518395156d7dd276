// The program's file dialogs for the key record component (the scripted ones for tests and tools
// are in platform/FileDialogs.h).
//
// Paths are the operating system's bytes (std::string); Qt's QString paths are converted with
// QFile::encodeName / decodeName.
#pragma once

#include "platform/FileDialogs.h"

#include <optional>
#include <string>

namespace zarn {

// QFileDialog, modal over the active window, without filter, default extension or title. The save
// dialog asks before an existing file is replaced when `overwritePrompt` is set; for a write, a
// chosen file that exists when the dialog returns is one whose replacing the user confirmed
// (IFileDialogs::ExecuteSaveDialogForWrite).
class TQtFileDialogs : public IFileDialogs {
public:
    std::optional<std::string> ExecuteOpenDialog(const std::string& initialFolder) override;
    std::optional<std::string> ExecuteSaveDialog(const std::string& initialFolder,
                                                 bool overwritePrompt) override;
};

} // namespace zarn
