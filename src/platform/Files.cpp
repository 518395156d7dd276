#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cstdint>
#include <unistd.h>

namespace zarn {

namespace {

// Raises unless `info` is of a kind OpenFileForReading accepts.
void CheckReadableKind(const struct stat& info, const std::string& fileName, bool allowFifo) {
    if (S_ISDIR(info.st_mode))
        RaiseInOutError("Cannot open file", fileName, EISDIR);
    if (!S_ISREG(info.st_mode) && !(allowFifo && S_ISFIFO(info.st_mode)))
        RaiseInOutError("Cannot open file", fileName, "it is not a regular file");
}

} // namespace

void RaiseInOutError(const std::string& action, const std::string& fileName, const std::string& reason) {
    throw EInOutError(action + " \"" + fileName + "\": " + reason);
}

void RaiseInOutError(const std::string& action, const std::string& fileName, int error) {
    RaiseInOutError(action, fileName, std::string(std::strerror(error)));
}

std::string ExtractFileDir(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return "/";
    return fileName.substr(0, slash);
}

bool FileExists(const std::string& fileName) {
    struct stat info {};
    return !fileName.empty() && stat(fileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& folderName) {
    struct stat info {};
    return !folderName.empty() && stat(folderName.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat infoA {
    }, infoB{};
    const bool hasA = stat(a.c_str(), &infoA) == 0, hasB = stat(b.c_str(), &infoB) == 0;
    if (hasA && hasB)
        return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
    if (hasA != hasB)
        return false;
    const auto lastName = [](const std::string& path) { return path.substr(path.find_last_of('/') + 1); };
    const std::string folderA = ExtractFileDir(a), folderB = ExtractFileDir(b);
    return lastName(a) == lastName(b) && stat(folderA.empty() ? "." : folderA.c_str(), &infoA) == 0 &&
           stat(folderB.empty() ? "." : folderB.c_str(), &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
           infoA.st_ino == infoB.st_ino;
}

bool PathIsMissing(const std::string& fileName) {
    struct stat info {};
    if (stat(fileName.c_str(), &info) == 0)
        return false;
    return errno == ENOENT || errno == ENOTDIR;
}

int OpenFileForReading(const std::string& fileName, bool allowFifo) {
    struct stat info {};
    if (stat(fileName.c_str(), &info) != 0)
        RaiseInOutError("Cannot open file", fileName, errno);
    CheckReadableKind(info, fileName, allowFifo);
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        RaiseInOutError("Cannot open file", fileName, errno);
    try {
        if (fstat(fd, &info) != 0)
            RaiseInOutError("Cannot open file", fileName, errno);
        CheckReadableKind(info, fileName, allowFifo);
    } catch (...) {
        close(fd);
        throw;
    }
    return fd;
}

TReadableFile::TReadableFile(const std::string& fileName, bool allowFifo,
                             std::chrono::milliseconds pipeWaitTime)
    : m_fileName(fileName), m_fd(OpenFileForReading(fileName, allowFifo)), m_pipeWaitTime(pipeWaitTime) {
    if (fstat(m_fd, &m_info) != 0) {
        const int error = errno;
        close(m_fd);
        RaiseInOutError("Cannot open file", fileName, error);
    }
}

TReadableFile::~TReadableFile() {
    close(m_fd);
}

// The wait time in seconds, as "30" or "0.2".
std::string TReadableFile::WaitText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(m_pipeWaitTime.count()) / 1000);
    return text;
}

// A FIFO without a writer reports nothing until one has written or closed; the wait ends there.
void TReadableFile::WaitForData() {
    const auto end = std::chrono::steady_clock::now() + m_pipeWaitTime;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd ready{m_fd, POLLIN, 0};
        const int result = poll(&ready, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (result > 0)
            return;
        if (result == 0)
            RaiseInOutError("Cannot read file", m_fileName,
                            "no data came through the pipe within " + WaitText() + " seconds");
        if (errno != EINTR)
            RaiseInOutError("Cannot read file", m_fileName, errno);
    }
}

std::size_t TReadableFile::Read(void* buffer, std::size_t size) {
    for (;;) {
        if (S_ISFIFO(m_info.st_mode))
            WaitForData();
        const ssize_t count = read(m_fd, buffer, size);
        if (count >= 0)
            return static_cast<std::size_t>(count);
        if (errno != EINTR && errno != EAGAIN)
            RaiseInOutError("Cannot read file", m_fileName, errno);
    }
}

} // namespace zarn
