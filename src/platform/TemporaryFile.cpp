#include "TemporaryFile.h"

#include "platform/AtomicWriter.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace zarn {

namespace {

// "folder/" for a file in `folder` ("" for the current folder).
std::string FolderPrefix(const std::string& folder) {
    return folder.empty() ? std::string() : (folder == "/" ? folder : folder + "/");
}

// A fresh name ".zarnkey-XXXXXX" in the folder, six random letters and digits: its length does not
// depend on the target's name, so every name that the target may have fits.
std::string RandomTemporaryName(const std::string& prefix) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        for (unsigned char& byte : random)
            byte = static_cast<unsigned char>(std::rand());
    std::string name = prefix + ".zarnkey-";
    for (const unsigned char byte : random)
        name.push_back(letters[byte % (sizeof letters - 1)]);
    return name;
}

bool Unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

TTemporaryFile::TTemporaryFile(const std::string& folder, const std::string& reportedName,
                               TWriteMethod method, mode_t createMode)
    : m_reportedName(reportedName), m_prefix(FolderPrefix(folder)), m_method(method) {
    if (m_method == TWriteMethod::wmAutomatic && access("/proc/self/fd", X_OK) == 0)
        m_fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode);
    if (m_fd >= 0)
        return;
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_path = RandomTemporaryName(m_prefix);
        m_fd = open(m_path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, createMode);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        const int error = errno;
        m_path.clear();
        RaiseInOutError("Cannot create file", m_reportedName, error);
    }
}

void TTemporaryFile::CopyExtendedAttributesOf(const std::string& existing, bool withAcl) {
    std::vector<char> names(4096);
    ssize_t length;
    while ((length = listxattr(existing.c_str(), names.data(), names.size())) < 0 && errno == ERANGE)
        names.resize(names.size() * 2);
    if (length < 0) {
        if (errno == ENOTSUP)
            return; // the file system keeps none
        RaiseInOutError("Cannot replace file", m_reportedName,
                        std::string("its extended attributes cannot be read: ") + std::strerror(errno));
    }
    for (const char* name = names.data(); name < names.data() + length; name += std::strlen(name) + 1) {
        if (!withAcl && std::strcmp(name, "system.posix_acl_access") == 0)
            continue;
        std::vector<char> value(256);
        ssize_t size;
        while ((size = getxattr(existing.c_str(), name, value.data(), value.size())) < 0 && errno == ERANGE)
            value.resize(value.size() * 4);
        if (size < 0 || fsetxattr(m_fd, name, value.data(), static_cast<std::size_t>(size), 0) != 0)
            RaiseInOutError(
                "Cannot replace file", m_reportedName,
                std::string("its extended attribute ") + name +
                    " (its access control list, where it is system.posix_acl_access) cannot be kept: " +
                    std::strerror(errno));
    }
}

TTemporaryFile::~TTemporaryFile() {
    if (m_fd >= 0)
        close(m_fd);
    if (!m_path.empty())
        unlink(m_path.c_str());
}

void TTemporaryFile::Write(const std::string& data) {
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

void TTemporaryFile::TakeOwnerAndModeOf(const struct stat& existing, std::optional<mode_t> mode) {
    if (fchown(m_fd, existing.st_uid, existing.st_gid) != 0) {
        if (errno != EPERM)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
        if (fchown(m_fd, static_cast<uid_t>(-1), existing.st_gid) != 0 && errno != EPERM)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
    }
    struct stat now {};
    if (fstat(m_fd, &now) != 0)
        RaiseInOutError("Cannot write file", m_reportedName, errno);
    mode_t bits = mode ? *mode : (existing.st_mode & 07777);
    if (now.st_uid != existing.st_uid)
        bits &= ~static_cast<mode_t>(S_ISUID);
    if (now.st_gid != existing.st_gid)
        bits &= ~static_cast<mode_t>(S_ISGID);
    SetMode(bits);
}

void TTemporaryFile::SetMode(mode_t mode) {
    if (fchmod(m_fd, mode) != 0)
        RaiseInOutError("Cannot write file", m_reportedName, errno);
}

void TTemporaryFile::Replace(const std::string& target) {
    Sync();
    if (m_path.empty())
        NameUnnamed();
    Close();
    if (rename(m_path.c_str(), target.c_str()) != 0)
        RaiseInOutError("Cannot replace file", m_reportedName, errno);
    m_path.clear();
}

void TTemporaryFile::CreateAs(const std::string& target) {
    Sync();
    if (m_path.empty()) {
        if (linkat(AT_FDCWD, ProcPath().c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0)
            RaiseCreateError(errno);
        Close();
        return;
    }
    Close();
    TWriteMethod method = m_method;
    if (method == TWriteMethod::wmAutomatic || method == TWriteMethod::wmRenameNoReplace) {
        if (renameat2(AT_FDCWD, m_path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            m_path.clear();
            return;
        }
        if (method != TWriteMethod::wmAutomatic || !Unsupported(errno))
            RaiseCreateError(errno);
        method = TWriteMethod::wmLinkThenUnlink;
    }
    if (method == TWriteMethod::wmLinkThenUnlink) {
        if (link(m_path.c_str(), target.c_str()) == 0) {
            unlink(m_path.c_str());
            m_path.clear();
            return;
        }
        if (m_method != TWriteMethod::wmAutomatic || !(Unsupported(errno) || errno == EPERM))
            RaiseCreateError(errno);
    }
    // An empty file claims the name exclusively and the content is renamed over it: a reader may
    // see it empty for a moment, but no other writer can take the name.
    const int claim = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (claim < 0)
        RaiseCreateError(errno);
    close(claim);
    if (rename(m_path.c_str(), target.c_str()) != 0) {
        const int error = errno;
        unlink(target.c_str());
        RaiseCreateError(error);
    }
    m_path.clear();
}

void TTemporaryFile::RaiseCreateError(int error) {
    if (error == EEXIST)
        throw EFileExists("Cannot create file \"" + m_reportedName + "\": " + std::strerror(EEXIST));
    RaiseInOutError("Cannot create file", m_reportedName, error);
}

std::string TTemporaryFile::ProcPath() const {
    return "/proc/self/fd/" + std::to_string(m_fd);
}

void TTemporaryFile::Sync() {
    if (fsync(m_fd) != 0)
        RaiseInOutError("Cannot write file", m_reportedName, errno);
}

void TTemporaryFile::Close() {
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0)
        RaiseInOutError("Cannot write file", m_reportedName, errno);
}

void TTemporaryFile::NameUnnamed() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = RandomTemporaryName(m_prefix);
        if (linkat(AT_FDCWD, ProcPath().c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_path = std::move(name);
            return;
        }
        if (errno != EEXIST)
            RaiseInOutError("Cannot create file", m_reportedName, errno);
    }
    RaiseInOutError("Cannot create file", m_reportedName, EEXIST);
}

} // namespace zarn
