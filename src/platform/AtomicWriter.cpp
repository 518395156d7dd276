#include "platform/AtomicWriter.h"

#include "SignalsHeld.h"
#include "TemporaryFile.h"
#include "platform/Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarn {

namespace {

TWriteMethod g_writeMethod = TWriteMethod::wmAutomatic;
std::function<void()> g_beforeFinalStep;

// The file that a write to `fileName` must replace: the final target of a symbolic link, else the
// name itself.
std::string ResolveWriteTarget(const std::string& fileName) {
    struct stat info {};
    if (lstat(fileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return fileName;
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
    return info;
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
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
    CheckTarget(target, fileName, options); // refuses early, before anything is written
    const TSignalsHeld signalsHeld;         // outlives the temporary file
    TTemporaryFile temporary(ExtractFileDir(target), fileName, g_writeMethod);
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
