// The file dialogs of the key record component: the program's Qt dialogs, and scripted ones whose
// answers are given in advance (tests, the screenshot tool).
//
// Paths are the operating system's bytes (std::string); Qt's QString paths are converted with
// QFile::encodeName / decodeName.
#pragma once

#include "platform/FileDialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace zarn {

// QFileDialog, modal over the active window, without filter, default extension or title. The save
// dialog asks before an existing file is replaced when `overwritePrompt` is set.
class TQtFileDialogs : public IFileDialogs {
public:
    std::optional<std::string> ExecuteOpenDialog(const std::string& initialFolder) override;
    std::optional<std::string> ExecuteSaveDialog(const std::string& initialFolder,
                                                 bool overwritePrompt) override;
};

// Dialogs that return the answers queued in advance, in order, and record every question. A
// question with no answer left is answered with a cancel (and recorded, so a test can see it).
class TScriptedFileDialogs : public IFileDialogs {
public:
    enum TKind { fdOpen, fdSave };
    struct TQuestion {
        TKind Kind;
        std::string InitialFolder;
        bool OverwritePrompt;
    };

    // The next dialog, whichever it is, confirms `path`.
    void Choose(const std::string& path) { Answers.push_back(path); }
    // The next dialog is cancelled.
    void Cancel() { Answers.push_back(std::nullopt); }

    std::optional<std::string> ExecuteOpenDialog(const std::string& initialFolder) override;
    std::optional<std::string> ExecuteSaveDialog(const std::string& initialFolder,
                                                 bool overwritePrompt) override;

    std::deque<std::optional<std::string>> Answers;
    std::vector<TQuestion> Asked;

private:
    std::optional<std::string> Next();
};

} // namespace zarn
