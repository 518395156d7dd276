#include "platform/TextFiles.h"

#include "platform/Errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarn {

namespace {

constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kCtrlZ = 26;

[[noreturn]] void RaiseInOutError(const std::string& action, const std::string& fileName, int error) {
    throw EInOutError(action + " \"" + fileName + "\": " + std::strerror(error));
}

std::string BaseName(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

// The file that a write to `fileName` must replace: the final target of a symbolic link, else the
// name itself.
std::string ResolveWriteTarget(const std::string& fileName) {
    struct stat info {};
    if (lstat(fileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return fileName;
    char resolved[PATH_MAX];
    if (realpath(fileName.c_str(), resolved) == nullptr)
        RaiseInOutError("Cannot resolve the link", fileName, errno);
    return resolved;
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Closes and removes a temporary file unless it was renamed into place.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& target, const std::string& reportedName)
        : m_reportedName(reportedName) {
        const std::string folder = ExtractFileDir(target);
        m_path = (folder.empty() ? std::string() : (folder == "/" ? folder : folder + "/")) + "." +
                 BaseName(target) + ".XXXXXX";
        m_fd = mkstemp(m_path.data());
        if (m_fd < 0)
            RaiseInOutError("Cannot create file", m_reportedName, errno);
    }
    ~TTemporaryFile() {
        if (m_fd >= 0)
            close(m_fd);
        if (!m_committed)
            unlink(m_path.c_str());
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    void SetMode(mode_t mode) {
        if (fchmod(m_fd, mode) != 0)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
    }
    void Write(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t written = write(m_fd, data.data() + done, data.size() - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                RaiseInOutError("Cannot write file", m_reportedName, written < 0 ? errno : ENOSPC);
            done += static_cast<std::size_t>(written);
        }
    }
    void CommitAs(const std::string& target) {
        if (fsync(m_fd) != 0)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
        const int fd = m_fd;
        m_fd = -1;
        if (close(fd) != 0)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
        if (rename(m_path.c_str(), target.c_str()) != 0)
            RaiseInOutError("Cannot replace file", m_reportedName, errno);
        m_committed = true;
    }

private:
    std::string m_reportedName;
    std::string m_path;
    int m_fd = -1;
    bool m_committed = false;
};

void SyncFolder(const std::string& target) {
    const std::string folder = ExtractFileDir(target);
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd); // best effort: the rename has happened either way
        close(fd);
    }
}

} // namespace

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

TTextFileReader::TTextFileReader(const std::string& fileName) : m_fileName(fileName) {
    m_fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        RaiseInOutError("Cannot open file", fileName, errno);
    struct stat info {};
    if (fstat(m_fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        close(m_fd);
        m_fd = -1;
        RaiseInOutError("Cannot open file", fileName, error);
    }
}

TTextFileReader::~TTextFileReader() {
    if (m_fd >= 0)
        close(m_fd);
}

bool TTextFileReader::Fill() {
    if (m_pos < m_end)
        return true;
    if (m_atEnd)
        return false;
    for (;;) {
        const ssize_t count = read(m_fd, m_buffer.data(), m_buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            RaiseInOutError("Cannot read file", m_fileName, errno);
        m_pos = 0;
        m_end = static_cast<std::size_t>(count);
        m_atEnd = count == 0;
        return !m_atEnd;
    }
}

bool TTextFileReader::Eof() {
    return !Fill() || m_buffer[m_pos] == kCtrlZ;
}

void TTextFileReader::SkipRestOfLine() {
    while (Fill()) {
        const void* found = std::memchr(m_buffer.data() + m_pos, kLineFeed, m_end - m_pos);
        if (found != nullptr) {
            m_pos = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - m_buffer.data()) + 1;
            return;
        }
        m_pos = m_end;
    }
}

void TTextFileReader::ReadLine(std::string& line, const TLineFilter* filter) {
    line.clear();
    std::size_t kept = 0;
    while (Fill()) {
        const unsigned char c = m_buffer[m_pos++];
        if (c == kLineFeed)
            return;
        if (c == kCarriageReturn)
            continue;
        if (c == kCtrlZ) {
            SkipRestOfLine();
            return;
        }
        if (filter == nullptr) {
            line.push_back(static_cast<char>(c));
            continue;
        }
        switch (filter->Classes[c]) {
        case TLineFilter::lfKeep:
            if (kept++ < filter->KeepLimit)
                line.push_back(static_cast<char>(c));
            break;
        case TLineFilter::lfDrop:
            break;
        case TLineFilter::lfReject:
            line.push_back(static_cast<char>(c));
            SkipRestOfLine();
            return;
        }
    }
}

void WriteTextFileLine(const std::string& fileName, const std::string& line) {
    const std::string target = ResolveWriteTarget(fileName);
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        RaiseInOutError("Cannot write file", fileName, EISDIR);
    TTemporaryFile temporary(target, fileName);
    temporary.SetMode(exists ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask()));
    temporary.Write(line + "\r\n");
    temporary.CommitAs(target);
    SyncFolder(target);
}

} // namespace zarn
