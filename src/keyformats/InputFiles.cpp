#include "keyformats/InputFiles.h"

#include "platform/Files.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zarn {

std::string ReadInputFile(const std::string& fileName, std::size_t maxBytes, bool allowPipe) {
    TReadableFile file(fileName, allowPipe);
    const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
    if (static_cast<std::size_t>(file.Info().st_size) > maxBytes)
        RaiseInOutError("Cannot read file", fileName, tooLarge);
    std::string content;
    char buffer[65536];
    // The size may change while the file is read; the limit holds for what is actually read.
    while (const std::size_t count = file.Read(buffer, sizeof buffer)) {
        if (content.size() + count > maxBytes)
            RaiseInOutError("Cannot read file", fileName, tooLarge);
        content.append(buffer, count);
    }
    return content;
}

TPassphrase ReadPassphraseFile(const std::string& fileName) {
    TReadableFile file(fileName, true);
    TPassphrase passphrase;
    passphrase.ReadableByOthers =
        S_ISREG(file.Info().st_mode) && (file.Info().st_mode & (S_IRGRP | S_IROTH)) != 0;
    std::string& line = passphrase.Text;
    char buffer[1024];
    bool ended = false;
    // Reading stops once the line holds more than the longest passphrase and its CR.
    while (!ended && line.size() <= MaxPassphraseBytes + 1) {
        const std::size_t count = file.Read(buffer, sizeof buffer);
        if (count == 0)
            break;
        const void* feed = std::memchr(buffer, '\n', count);
        ended = feed != nullptr;
        line.append(buffer,
                    ended ? static_cast<std::size_t>(static_cast<const char*>(feed) - buffer) : count);
    }
    // OpenSSL's "-passin file:" keeps a carriage return and stops at a NUL byte: a line with either
    // would give another passphrase there than here, so such a file opens no key of ours.
    if (line.find('\r') != std::string::npos && line.size() <= MaxPassphraseBytes + 1)
        throw EPassphraseFileError(
            "The first line of the passphrase file \"" + fileName +
            "\" holds a carriage return (a Windows line end?), which OpenSSL's -passin "
            "file: would take as part of the passphrase");
    if (line.find('\0') != std::string::npos && line.size() <= MaxPassphraseBytes)
        throw EPassphraseFileError(
            "The first line of the passphrase file \"" + fileName +
            "\" holds a NUL byte, where OpenSSL's -passin file: would end the passphrase");
    if (line.size() > MaxPassphraseBytes)
        throw EPassphraseFileError("The first line of the passphrase file \"" + fileName +
                                   "\" is longer than " + std::to_string(MaxPassphraseBytes) + " bytes");
    if (line.empty())
        throw EPassphraseFileError("The passphrase file \"" + fileName + "\" has an empty first line");
    return passphrase;
}

} // namespace zarn
