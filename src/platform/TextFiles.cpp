#include "platform/TextFiles.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarn {

namespace {

constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kCtrlZ = 26;

TWriteMethod g_writeMethod = TWriteMethod::wmAutomatic;
std::function<void()> g_beforeFinalStep;

[[noreturn]] void RaiseInOutError(const std::string& action, const std::string& fileName, int error) {
    throw EInOutError(action + " \"" + fileName + "\": " + std::strerror(error));
}

[[noreturn]] void RaiseFileExists(const std::string& fileName) {
    throw EFileExists("Cannot create file \"" + fileName + "\": " + std::strerror(EEXIST));
}

[[noreturn]] void RaiseNotRegular(const std::string& action, const std::string& fileName) {
    throw EInOutError(action + " \"" + fileName + "\": it is not a regular file");
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

// The target as it stands, when it exists and may be replaced; nothing when it does not exist.
// Raises for everything the writer refuses.
std::optional<struct stat> CheckTarget(const std::string& target, const std::string& fileName,
                                       const TWriteOptions& options) {
    struct stat info {};
    if (stat(target.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        RaiseInOutError("Cannot write file", fileName, errno);
    }
    if (S_ISDIR(info.st_mode))
        RaiseInOutError("Cannot write file", fileName, EISDIR);
    if (!S_ISREG(info.st_mode))
        RaiseNotRegular("Cannot replace file", fileName);
    if (!options.MayReplace)
        RaiseFileExists(fileName);
    if (info.st_nlink > 1)
        throw EInOutError("Cannot replace file \"" + fileName + "\": it has " +
                          std::to_string(info.st_nlink) + " hard links, and replacing it would split them");
    return info;
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// ---- signals held while a temporary file exists ----

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::size_t kHeldCount = sizeof kHeldSignals / sizeof kHeldSignals[0];

volatile std::sig_atomic_t g_heldSignalArrived[kHeldCount];

extern "C" void RecordHeldSignal(int signal) {
    for (std::size_t i = 0; i < kHeldCount; ++i)
        if (kHeldSignals[i] == signal)
            g_heldSignalArrived[i] = 1;
}

// While it lives, the termination signals wait and SIGXFSZ is ignored. The signals are blocked in
// this thread; another thread that takes one (the window's process has several) only records it
// in a handler put in place for the time, and it is raised again here at the end. On destruction
// the dispositions are restored first and the mask last, so a held signal acts as the process had
// set it up, once the temporary file is gone.
class TSignalsHeld {
public:
    TSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : kHeldSignals)
            sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &m_savedMask);
        for (std::size_t i = 0; i < kHeldCount; ++i) {
            g_heldSignalArrived[i] = 0;
            sigaction(kHeldSignals[i], nullptr, &m_saved[i]);
            m_recording[i] = (m_saved[i].sa_flags & SA_SIGINFO) != 0 || m_saved[i].sa_handler != SIG_IGN;
            if (!m_recording[i])
                continue;
            struct sigaction record {};
            record.sa_handler = RecordHeldSignal;
            record.sa_mask = held;
            record.sa_flags = SA_RESTART;
            sigaction(kHeldSignals[i], &record, nullptr);
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &m_savedFileSize);
    }
    ~TSignalsHeld() {
        sigaction(SIGXFSZ, &m_savedFileSize, nullptr);
        for (std::size_t i = 0; i < kHeldCount; ++i) {
            if (!m_recording[i])
                continue;
            sigaction(kHeldSignals[i], &m_saved[i], nullptr);
            if (g_heldSignalArrived[i] != 0)
                raise(kHeldSignals[i]); // pending here until the mask is restored
        }
        pthread_sigmask(SIG_SETMASK, &m_savedMask, nullptr);
    }
    TSignalsHeld(const TSignalsHeld&) = delete;
    TSignalsHeld& operator=(const TSignalsHeld&) = delete;

private:
    sigset_t m_savedMask{};
    struct sigaction m_saved[kHeldCount] {};
    bool m_recording[kHeldCount]{};
    struct sigaction m_savedFileSize {};
};

// ---- the temporary file ----

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

// The new content on its way: an unnamed file (O_TMPFILE) where the file system allows, so that not
// even a killed process leaves it behind, else ".zarnkey-XXXXXX" in the target's folder. The
// destructor closes it and removes a name it still has.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& folder, const std::string& reportedName)
        : m_reportedName(reportedName), m_prefix(FolderPrefix(folder)) {
        if (g_writeMethod == TWriteMethod::wmAutomatic && access("/proc/self/fd", X_OK) == 0)
            m_fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            return;
        m_path = m_prefix + ".zarnkey-XXXXXX";
        m_fd = mkostemp(m_path.data(), O_CLOEXEC);
        if (m_fd < 0) {
            m_path.clear();
            RaiseInOutError("Cannot create file", m_reportedName, errno);
        }
    }
    ~TTemporaryFile() {
        if (m_fd >= 0)
            close(m_fd);
        if (!m_path.empty())
            unlink(m_path.c_str());
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

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

    // Gives the file `existing`'s owner, group and permission bits, as far as the process may:
    // without the owner the set-user-ID bit goes, without the group the set-group-ID bit.
    void TakeOwnerAndModeOf(const struct stat& existing, std::optional<mode_t> mode) {
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
    void SetMode(mode_t mode) {
        if (fchmod(m_fd, mode) != 0)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
    }

    // Flushes the content to disk and renames the file over `target`.
    void Replace(const std::string& target) {
        Sync();
        if (m_path.empty())
            NameUnnamed();
        Close();
        if (rename(m_path.c_str(), target.c_str()) != 0)
            RaiseInOutError("Cannot replace file", m_reportedName, errno);
        m_path.clear();
    }

    // Flushes the content to disk and gives the file the name `target`, which must not exist:
    // EFileExists when it does, also when it appeared during the write.
    void CreateAs(const std::string& target) {
        Sync();
        if (m_path.empty()) {
            if (linkat(AT_FDCWD, ProcPath().c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0)
                RaiseCreateError(errno);
            Close();
            return;
        }
        Close();
        TWriteMethod method = g_writeMethod;
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
            if (g_writeMethod != TWriteMethod::wmAutomatic || !(Unsupported(errno) || errno == EPERM))
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

private:
    static bool Unsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

    [[noreturn]] void RaiseCreateError(int error) {
        if (error == EEXIST)
            RaiseFileExists(m_reportedName);
        RaiseInOutError("Cannot create file", m_reportedName, error);
    }

    std::string ProcPath() const { return "/proc/self/fd/" + std::to_string(m_fd); }

    void Sync() {
        if (fsync(m_fd) != 0)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
    }

    void Close() {
        const int fd = m_fd;
        m_fd = -1;
        if (close(fd) != 0)
            RaiseInOutError("Cannot write file", m_reportedName, errno);
    }

    // Links the unnamed file under a fresh temporary name, for the rename that replaces the target.
    void NameUnnamed() {
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

    std::string m_reportedName;
    std::string m_prefix;
    std::string m_path; // the temporary name; empty while the file has none
    int m_fd = -1;
};

void SyncFolder(const std::string& target) {
    const std::string folder = ExtractFileDir(target);
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd); // best effort: the new name is in place either way
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

bool PathIsMissing(const std::string& fileName) {
    struct stat info {};
    if (stat(fileName.c_str(), &info) == 0)
        return false;
    return errno == ENOENT || errno == ENOTDIR;
}

namespace {

// Raises unless `info` is of a kind OpenFileForReading accepts.
void CheckReadableKind(const struct stat& info, const std::string& fileName, bool allowFifo) {
    if (S_ISDIR(info.st_mode))
        RaiseInOutError("Cannot open file", fileName, EISDIR);
    if (!S_ISREG(info.st_mode) && !(allowFifo && S_ISFIFO(info.st_mode)))
        RaiseNotRegular("Cannot open file", fileName);
}

} // namespace

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

TTextFileReader::TTextFileReader(const std::string& fileName)
    : m_fileName(fileName), m_fd(OpenFileForReading(fileName)) {}

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
        const ssize_t count = read(m_fd, m_buffer.data(), m_buffer.size() - 1);
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

bool TTextFileReader::FindLine(std::string& line, const TLineFilter& filter) {
    // One action per byte value: the filter's classes, with the line rules' bytes on top. Keep and
    // drop come first, so that one comparison tells the bytes that change nothing but the count.
    enum TAction : unsigned char { aKeep, aDrop, aReject, aLineFeed, aCtrlZ };
    std::array<unsigned char, 256> actions{};
    for (std::size_t c = 0; c < 256; ++c)
        actions[c] = filter.Classes[c] == TLineFilter::lfKeep   ? aKeep
                     : filter.Classes[c] == TLineFilter::lfDrop ? aDrop
                                                                : aReject;
    actions[kLineFeed] = aLineFeed;
    actions[kCarriageReturn] = aDrop;
    actions[kCtrlZ] = aCtrlZ;

    // The scan stores nothing: a line's kept bytes are copied only once the line is accepted, or
    // when the buffer is refilled in the middle of a line that may still be accepted.
    const auto store = [&](const unsigned char* from, const unsigned char* to) {
        for (; from < to && line.size() < filter.KeepLimit; ++from)
            if (actions[*from] == aKeep)
                line.push_back(static_cast<char>(*from));
    };
    line.clear();
    std::size_t kept = 0;     // kept bytes of the current line so far
    bool lineCarried = false; // the current line began in an earlier buffer
    while (Fill()) {
        unsigned char* const begin = m_buffer.data();
        unsigned char* const end = begin + m_end;
        *end = kLineFeed; // a sentinel: Fill leaves the last byte of the buffer free for it
        const unsigned char* p = begin + m_pos;
        const unsigned char* lineFrom = p;
        bool lineEndsLater = false; // the scan left the buffer through SkipRestOfLine
        for (;;) {
            unsigned char action;
            while ((action = actions[*p]) <= aDrop) {
                kept += action == aKeep;
                ++p;
            }
            if (action == aLineFeed) {
                if (p == end)
                    break;
                if (kept > 0) {
                    store(lineFrom, p);
                    m_pos = static_cast<std::size_t>(p + 1 - begin);
                    return true;
                }
                lineFrom = ++p;
                lineCarried = false;
                continue;
            }
            if (action == aCtrlZ) {
                if (p == lineFrom && !lineCarried) { // at the start of a line: the end of the file
                    m_pos = static_cast<std::size_t>(p - begin);
                    return false;
                }
                if (kept > 0)
                    store(lineFrom, p);
                m_pos = static_cast<std::size_t>(p + 1 - begin);
                SkipRestOfLine();
                if (kept > 0)
                    return true;
                lineEndsLater = true;
                break;
            }
            // A rejected byte: the line is no key line, and the rest of it is skipped unread.
            line.clear();
            kept = 0;
            lineCarried = false;
            const auto* lineFeed = static_cast<const unsigned char*>(
                std::memchr(p + 1, kLineFeed, static_cast<std::size_t>(end - p)));
            if (lineFeed != end) {
                lineFrom = p = lineFeed + 1;
                continue;
            }
            m_pos = m_end;
            SkipRestOfLine();
            lineEndsLater = true;
            break;
        }
        if (lineEndsLater) {
            lineCarried = false;
            continue;
        }
        if (kept > 0)
            store(lineFrom, end);
        lineCarried = lineCarried || lineFrom < end;
        m_pos = m_end;
    }
    // The last line, without a line feed.
    if (kept > 0)
        return true;
    line.clear();
    return false;
}

void WriteFileAtomically(const std::string& fileName, const std::string& content,
                         const TWriteOptions& options) {
    const std::string target = ResolveWriteTarget(fileName);
    CheckTarget(target, fileName, options); // refuses early, before anything is written
    const TSignalsHeld signalsHeld;         // outlives the temporary file
    TTemporaryFile temporary(ExtractFileDir(target), fileName);
    temporary.Write(content);
    // Checked again, right before the final step: the target may have changed during the write.
    const std::optional<struct stat> existing = CheckTarget(target, fileName, options);
    if (existing)
        temporary.TakeOwnerAndModeOf(*existing, options.Mode);
    else
        temporary.SetMode(options.Mode ? *options.Mode : (0666 & ~CurrentUmask()));
    if (g_beforeFinalStep)
        g_beforeFinalStep();
    if (options.MayReplace)
        temporary.Replace(target);
    else
        temporary.CreateAs(target);
    SyncFolder(target);
}

void CheckFileCanBeWritten(const std::string& fileName, const TWriteOptions& options) {
    const std::string target = ResolveWriteTarget(fileName);
    CheckTarget(target, fileName, options);
    const std::string folder = ExtractFileDir(target);
    if (access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0)
        RaiseInOutError("Cannot create file", fileName, errno);
}

void WriteTextFileLine(const std::string& fileName, const std::string& line, const TWriteOptions& options) {
    WriteFileAtomically(fileName, line + "\r\n", options);
}

void SetWriteHooksForTests(TWriteMethod method, std::function<void()> beforeFinalStep) {
    g_writeMethod = method;
    g_beforeFinalStep = std::move(beforeFinalStep);
}

} // namespace zarn
