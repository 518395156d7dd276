// Hand-made key records and scripted dialogs for the key record tests.
#pragma once

#include "platform/FileDialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace zarn::test {

// The fields of one record as raw bytes; the two lengths follow the modulus and exponent unless set.
struct TRecord {
    std::string OwnerId = "\x12\x34\x56\x78\x9F";
    unsigned char Index = 5;
    std::string ExpDate = "\x12\x12";
    unsigned char HashIndicator = 1;
    unsigned char AlgorithmIndicator = 1;
    std::string Modulus = "\xAB\xCD";
    std::string Exponent = "\x03";
    std::optional<unsigned char> ModulusLength;
    std::optional<unsigned char> ExponentLength;

    // The bytes before the hash result.
    std::string HashInput() const;
    // HashInput() followed by its SHA-1 (computed with OpenSSL).
    std::string WithHash() const;
};

// The SHA-1 of `bytes` (OpenSSL), raw.
std::string OpenSslSha1(const std::string& bytes);

// Answers the component's dialogs from a script and records what they were asked.
class TScriptedDialogs : public IFileDialogs {
public:
    // The next open or save dialog returns `path`, or cancels when it is nothing.
    void Answer(std::optional<std::string> path) { m_answers.push_back(std::move(path)); }

    std::optional<std::string> ExecuteOpenDialog(const std::string& initialFolder) override;
    std::optional<std::string> ExecuteSaveDialog(const std::string& initialFolder, bool overwritePrompt) override;

    struct TCall {
        std::string Kind; // "open" or "save"
        std::string InitialFolder;
        bool OverwritePrompt = false;
    };
    const std::vector<TCall>& Calls() const { return m_calls; }

private:
    std::optional<std::string> Next();
    std::deque<std::optional<std::string>> m_answers;
    std::vector<TCall> m_calls;
};

} // namespace zarn::test
