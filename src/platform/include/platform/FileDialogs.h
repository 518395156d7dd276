// The file dialogs that the key record component shows, as an interface handed in: the windows
// supply real dialogs, the command line and the tests supply their own answers.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace zarn {

class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;

    // The open-file dialog, starting in `initialFolder` ("" for the default). Returns the chosen
    // path, or nothing when the user cancelled.
    virtual std::optional<std::string> ExecuteOpenDialog(const std::string& initialFolder) = 0;

    // The save-file dialog, starting in `initialFolder`. With `overwritePrompt` it asks before an
    // existing file is replaced; a "no" there is a cancel. Returns the chosen path, or nothing.
    virtual std::optional<std::string> ExecuteSaveDialog(const std::string& initialFolder,
                                                         bool overwritePrompt) = 0;

    // The save dialog's answer for a write: the chosen path and whether a file of that name may be
    // replaced. A write with MayReplace false must not replace a file that appears after the answer.
    struct TSaveChoice {
        std::string FileName;
        bool MayReplace = false;
    };
    // ExecuteSaveDialog, and whether replacing was asked for. The default reads that from the file
    // system right after the answer: without `overwritePrompt` replacing needs no question; with it,
    // a dialog returns an existing file only when the user confirmed replacing it, so the chosen
    // file exists exactly when replacing was confirmed.
    virtual std::optional<TSaveChoice> ExecuteSaveDialogForWrite(const std::string& initialFolder,
                                                                 bool overwritePrompt);
};

// Dialogs that answer every question with a cancel: what a component without a window gets.
class TNoFileDialogs : public IFileDialogs {
public:
    std::optional<std::string> ExecuteOpenDialog(const std::string&) override { return std::nullopt; }
    std::optional<std::string> ExecuteSaveDialog(const std::string&, bool) override { return std::nullopt; }
};

// Dialogs that return the answers queued in advance, in order, and record every question: for
// tests and tools. A question with no answer left is answered with a cancel (and recorded).
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
