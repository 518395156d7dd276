#include "cli/InputFiles.h"

#include "platform/TextFiles.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace zarn {

namespace {

[[noreturn]] void RaiseInOutError(const std::string& action, const std::string& fileName,
                                  const std::string& reason) {
    throw EInOutError(action + " \"" + fileName + "\": " + reason);
}

[[noreturn]] void RaiseInOutError(const std::string& action, const std::string& fileName, int error) {
    RaiseInOutError(action, fileName, std::strerror(error));
}

// An open file of an allowed kind, closed on destruction.
class TInputFile {
public:
    TInputFile(const std::string& fileName, bool allowPipe)
        : m_fileName(fileName), m_fd(OpenFileForReading(fileName, allowPipe)) {
        if (fstat(m_fd, &m_info) != 0) {
            const int error = errno;
            close(m_fd);
            RaiseInOutError("Cannot open file", fileName, error);
        }
    }
    ~TInputFile() {
        if (m_fd >= 0)
            close(m_fd);
    }
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    const struct stat& Info() const { return m_info; }

    // Up to `size` bytes; 0 at the end of the file. Retries when a signal interrupts the read.
    std::size_t Read(char* buffer, std::size_t size) {
        for (;;) {
            const ssize_t count = read(m_fd, buffer, size);
            if (count >= 0)
                return static_cast<std::size_t>(count);
            if (errno != EINTR)
                RaiseInOutError("Cannot read file", m_fileName, errno);
        }
    }

private:
    std::string m_fileName;
    int m_fd = -1;
    struct stat m_info {};
};

} // namespace

std::string ReadInputFile(const std::string& fileName, std::size_t maxBytes) {
    TInputFile file(fileName, false);
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
    TInputFile file(fileName, true);
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
    if (ended && !line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > MaxPassphraseBytes)
        throw EPassphraseFileError("The first line of the passphrase file \"" + fileName +
                                   "\" is longer than " + std::to_string(MaxPassphraseBytes) + " bytes");
    if (line.empty())
        throw EPassphraseFileError("The passphrase file \"" + fileName + "\" has an empty first line");
    return passphrase;
}

} // namespace zarn
