// Key file import on arbitrary file bytes: the key line search finds the line that reading every
// line whole finds, the status is one of the import's codes with its own message, no property
// beyond the failing field changes, and a record that imports with status 0 exports and imports
// again to the same properties.
#include "encoding/STRStringUnit.h"
#include "encoding/UTHHexUtilities.h"
#include "keyrecord/ZarnPublicKey.h"
#include "platform/FileDialogs.h"
#include "platform/TextFileReader.h"
#include "tests/keyrecord/KeyFileFixtures.h"

#include <QVariant>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using zarn::TZarnPublicKey;
using zarn::test::RecordState;
using zarn::test::SetOldValues;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

const std::string& Folder() {
    static const std::string folder = [] {
        std::string pattern = "/tmp/zarn-fuzz-keyfile-XXXXXX";
        Check(mkdtemp(pattern.data()) != nullptr, "temporary folder");
        return pattern;
    }();
    return folder;
}

// For each message: its status and how many properties it leaves decoded.
struct TOutcome {
    std::int32_t Status;
    std::size_t Decoded;
};
const std::map<std::string, TOutcome>& Outcomes() {
    static const std::map<std::string, TOutcome> outcomes = {
        {"Import successfully completed!", {0, 10}},
        {"No key found", {1, 0}},
        {"Incorrect public key owner identifier", {100, 0}},
        {"Incorrect public key index", {102, 1}},
        {"Incorrect public key expiration date", {103, 2}},
        {"Incorrect hash algorithm indicator", {105, 3}},
        {"Incorrect public key algorithm indicator", {106, 4}},
        {"Incorrect public modulus length", {107, 5}},
        {"Incorrect public key exponent length", {108, 6}},
        {"Incorrect public key modulus", {109, 7}},
        {"Incorrect public key exponent", {110, 8}},
        {"Incorrect hash result", {111, 9}},
        {"Hash verification failed", {112, 10}},
        {"Hash algorithm indicator not 1, hash not verified", {112, 10}},
    };
    return outcomes;
}

void CheckRoundTrip(const TZarnPublicKey& imported) {
    TZarnPublicKey copy;
    for (const char* name :
         {"PublicKeyOwnerId", "PublicKeyIndex", "PublicKeyExpDate", "HashAlgorithmIndicator",
          "PublicKeyAlgorithmIndicator", "PublicKeyModulusLength", "PublicKeyExponentLength",
          "PublicKeyModulus", "PublicKeyExponent"})
        copy.setProperty(name, imported.property(name));
    zarn::TScriptedFileDialogs dialogs;
    dialogs.Choose(Folder() + "/out.key");
    copy.SetFileDialogs(&dialogs);
    std::string message;
    Check(copy.ExportKey(message) == 0, "export of an imported record");
    TZarnPublicKey back;
    back.SetFileName(Folder() + "/out.key");
    Check(back.ImportKey(message) == 0, "import of the exported record");
    Check(RecordState(back) == RecordState(imported), "round trip keeps every property");
}

// The key line found the plain way: every line read whole, blanks and no-break spaces removed, the
// first non-empty line of hexadecimal digits only, cut to the digits a record can use.
std::string KeyLineReadWhole(const std::string& fileName) {
    zarn::TTextFileReader reader(fileName);
    std::string line;
    while (!reader.Eof()) {
        reader.ReadLine(line);
        const std::string cleaned = zarn::RemoveBlanks(line);
        bool hex = !cleaned.empty();
        for (const char c : cleaned)
            hex = hex && zarn::IsHexDigit(c);
        if (hex)
            return cleaned.substr(0, 2 * (32 + 255 + 255));
    }
    return std::string();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string fileName = Folder() + "/in.key";
    {
        std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    TZarnPublicKey key;
    SetOldValues(key);
    key.SetFileName(fileName);
    std::string keyLine;
    const std::int32_t found = key.FindKeyLine(keyLine);
    Check(keyLine == KeyLineReadWhole(fileName), "the key line of the line rules");
    Check(found == (keyLine.empty() ? 1 : 0), "the search's result");
    std::string message;
    const std::int32_t status = key.ImportKey(message);

    const auto outcome = Outcomes().find(message);
    Check(outcome != Outcomes().end(), "a known message");
    Check(outcome->second.Status == status, "the message's own status");
    const std::vector<std::string> state = RecordState(key);
    TZarnPublicKey untouched;
    SetOldValues(untouched);
    const std::vector<std::string> old = RecordState(untouched);
    for (std::size_t i = 0; i < state.size(); ++i)
        Check((state[i] != old[i]) == (i < outcome->second.Decoded), "only decoded fields change");
    const bool verified = status == 0 || message == "Hash verification failed";
    Check((key.GetExpectedHashResult() != "old expected") == verified,
          "the expected hash changes only when verified");

    if (status == 0 && key.GetPublicKeyOwnerId().size() == 10 && key.GetPublicKeyExpDate().size() == 4)
        CheckRoundTrip(key);
    return 0;
}
