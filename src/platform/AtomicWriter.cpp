#include "platform/AtomicWriter.h"

#include "SignalsHeld.h"
#include "TemporaryFile.h"
#include "platform/Files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarn {

namespace {

TWriteMethod g_writeMethod = TWriteMethod::wmAutomatic;
std::function<void()> g_beforeFinalStep;

// The folder that holds `fileName`, as stat gives it; false when it cannot be checked.
bool FolderOf(const std::string& fileName, struct stat& folder) {
    const std::string name = ExtractFileDir(fileName);
    return stat(name.empty() ? "." : name.c_str(), &folder) == 0;
}

bool IsStickyAndWorldWritable(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
}

// The file that a write to `fileName` must replace: the final target of a symbolic link, else the
// name itself. A link in a sticky world-writable folder is followed only when it belongs to the
// writer or to the folder's owner, as the kernel's protected_symlinks has open do: another user's
// link there could point the write anywhere.
std::string ResolveWriteTarget(const std::string& fileName) {
    struct stat info {};
    if (lstat(fileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return fileName;
    struct stat folder {};
    if (FolderOf(fileName, folder) && IsStickyAndWorldWritable(folder) && info.st_uid != geteuid() &&
        info.st_uid != folder.st_uid)
        RaiseInOutError("Cannot write file", fileName,
                        "it is another user's symbolic link in a sticky folder that everyone may write to, "
                        "and is not followed");
    char resolved[PATH_MAX];
    if (realpath(fileName.c_str(), resolved) == nullptr) {
        // A link to something that has no path, such as /dev/stdout on a pipe: what it names is
        // the reason, not the link.
        const int error = errno;
        if (stat(fileName.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            RaiseInOutError("Cannot write file", fileName,
                            std::string("it is not a regular file") +
                                (S_ISFIFO(info.st_mode) ? " (a pipe)" : ""));
        RaiseInOutError("Cannot resolve the link", fileName, error);
    }
    return resolved;
}

// In a sticky folder only the file's owner, the folder's owner or root may replace a file, and in
// one that everyone may write to not even those may replace another user's file unless it is the
// folder owner's (the kernel's protected_regular has open refuse that; a rename does not).
void CheckStickyFolder(const struct stat& existing, const std::string& target, const std::string& fileName) {
    struct stat folder {};
    if (existing.st_uid == geteuid() || !FolderOf(target, folder) || (folder.st_mode & S_ISVTX) == 0)
        return;
    if (geteuid() != 0 && folder.st_uid != geteuid())
        RaiseInOutError("Cannot replace file", fileName,
                        "it belongs to another user in a sticky folder, where only its owner may replace it");
    if (IsStickyAndWorldWritable(folder) && existing.st_uid != folder.st_uid)
        RaiseInOutError("Cannot replace file", fileName,
                        "it belongs to another user in a sticky folder that everyone may write to");
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
        RaiseInOutError("Cannot replace file", fileName, "it is not a regular file");
    if (!options.MayReplace)
        throw EFileExists("Cannot create file \"" + fileName + "\": " + std::strerror(EEXIST));
    if (info.st_nlink > 1)
        throw EInOutError("Cannot replace file \"" + fileName + "\": it has " +
                          std::to_string(info.st_nlink) + " hard links, and replacing it would split them");
    if (options.OwnedByWriter && info.st_uid != geteuid())
        RaiseInOutError("Cannot replace file", fileName,
                        "it belongs to another user (uid " + std::to_string(info.st_uid) +
                            "), and this file would hold a private key");
    CheckStickyFolder(info, target, fileName);
    return info;
}

// The process's umask, read without changing it (umask(2) can only set it, for the whole process
// at once); 022 where /proc does not say.
mode_t CurrentUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    unsigned mask = 022;
    if (status != nullptr) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr)
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(status);
    }
    return static_cast<mode_t>(mask);
}

void SyncFolder(const std::string& target) {
    const std::string folder = ExtractFileDir(target);
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd); // best effort: the new name is in place either way
        close(fd);
    }
}

} // namespace

void WriteFileAtomically(const std::string& fileName, const std::string& content,
                         const TWriteOptions& options) {
    const std::string target = ResolveWriteTarget(fileName);
    const bool existed = CheckTarget(target, fileName, options).has_value(); // refuses early
    const TSignalsHeld signalsHeld;                                          // outlives the temporary file
    // A new file gets what the kernel gives one (0666 less the umask, or the folder's default ACL);
    // a file that replaces another starts private and takes the old one's owner, mode and attributes.
    const bool kernelMode = !existed && !options.Mode;
    TTemporaryFile temporary(ExtractFileDir(target), fileName, g_writeMethod, kernelMode ? 0666 : 0600);
    temporary.Write(content);
    // Checked again, right before the final step: the target may have changed during the write.
    const std::optional<struct stat> existing = CheckTarget(target, fileName, options);
    if (existing) {
        if (options.OwnedByWriter)
            temporary.SetMode(*options.Mode);
        else
            temporary.TakeOwnerAndModeOf(*existing, options.Mode);
        // A set mode (a private key's) is the whole access: no ACL of the old file widens it.
        temporary.CopyExtendedAttributesOf(target, !options.Mode);
    } else if (options.Mode) {
        temporary.SetMode(*options.Mode);
    } else if (!kernelMode) {
        temporary.SetMode(0666 & ~CurrentUmask()); // the target vanished during the write
    }
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
