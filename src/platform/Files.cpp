#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    const int blocking = S_ISFIFO(info.st_mode) ? 0 : O_NONBLOCK;
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | blocking);
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

TReadableFile::TReadableFile(const std::string& fileName, bool allowFifo)
    : m_fileName(fileName), m_fd(OpenFileForReading(fileName, allowFifo)) {
    if (fstat(m_fd, &m_info) != 0) {
        const int error = errno;
        close(m_fd);
        RaiseInOutError("Cannot open file", fileName, error);
    }
}

TReadableFile::~TReadableFile() {
    close(m_fd);
}

std::size_t TReadableFile::Read(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t count = read(m_fd, buffer, size);
        if (count >= 0)
            return static_cast<std::size_t>(count);
        if (errno != EINTR)
            RaiseInOutError("Cannot read file", m_fileName, errno);
    }
}

} // namespace zarn
