#include "tests/keyrecord/KeyFileFixtures.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

namespace zarn::test {

std::string TRecord::HashInput() const {
    std::string bytes = OwnerId;
    bytes.push_back(static_cast<char>(Index));
    bytes += ExpDate;
    bytes.push_back(static_cast<char>(HashIndicator));
    bytes.push_back(static_cast<char>(AlgorithmIndicator));
    bytes.push_back(static_cast<char>(ModulusLength.value_or(static_cast<unsigned char>(Modulus.size()))));
    bytes.push_back(static_cast<char>(ExponentLength.value_or(static_cast<unsigned char>(Exponent.size()))));
    return bytes + Modulus + Exponent;
}

std::string TRecord::WithHash() const { return HashInput() + OpenSslSha1(HashInput()); }

std::string OpenSslSha1(const std::string& bytes) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), SHA_DIGEST_LENGTH);
}

std::optional<std::string> TScriptedDialogs::Next() {
    if (m_answers.empty()) {
        ADD_FAILURE() << "a dialog was shown that the test did not expect";
        return std::nullopt;
    }
    std::optional<std::string> answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

std::optional<std::string> TScriptedDialogs::ExecuteOpenDialog(const std::string& initialFolder) {
    m_calls.push_back({"open", initialFolder, false});
    return Next();
}

std::optional<std::string> TScriptedDialogs::ExecuteSaveDialog(const std::string& initialFolder,
                                                               bool overwritePrompt) {
    m_calls.push_back({"save", initialFolder, overwritePrompt});
    return Next();
}

} // namespace zarn::test
