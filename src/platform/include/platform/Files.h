// Paths and the opening of files for reading: the folder part of a path, the existence tests, the
// opener that refuses anything but a regular file, and a file open for reading.
//
// Only regular files are read (a symbolic link counts as the file it names). Every failure raises
// EInOutError with the action, the file name in double quotes and the operating system's reason.
#pragma once

#include "platform/Errors.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <sys/stat.h>

namespace zarn {

// Raises EInOutError with "<action> \"<fileName>\": <reason>"; the second form takes the reason
// from the system's error number.
[[noreturn]] void RaiseInOutError(const std::string& action, const std::string& fileName,
                                  const std::string& reason);
[[noreturn]] void RaiseInOutError(const std::string& action, const std::string& fileName, int error);

// The folder part of `fileName` without its final separator ("" when there is none; "/" for a
// file in the root folder).
std::string ExtractFileDir(const std::string& fileName);

// True when `fileName` names an existing entry that is not a folder.
bool FileExists(const std::string& fileName);

// True when `folderName` names an existing folder.
bool DirectoryExists(const std::string& folderName);

// True only when the system says that `fileName` does not exist (ENOENT or ENOTDIR), a dangling
// symbolic link included. A path that cannot be checked (a folder without search permission, a loop
// of symbolic links) is not missing: opening it raises EInOutError with the reason.
bool PathIsMissing(const std::string& fileName);

// True when `a` and `b` name one file: the same device and inode where both exist (links
// followed), else the same folder (by device and inode) and the same last name. Spellings of a path
// (links, bind mounts, "..", a working folder deeper than PATH_MAX) do not matter.
bool SameFile(const std::string& a, const std::string& b);

// Opens `fileName` for reading and returns its descriptor (close-on-exec), which the caller closes.
// Anything but a regular file (or a FIFO, where `allowFifo`) is refused before it is opened, so
// that opening has no effect on a device and never waits on a FIFO, and the open file is checked
// again in case the name changed in between. A folder raises EInOutError with "Is a directory",
// another kind of file with "it is not a regular file", any other failure with the system's reason.
// Every file is opened without blocking, so that opening a FIFO that has no writer returns at once.
int OpenFileForReading(const std::string& fileName, bool allowFifo = false);

// How long a read of a pipe waits for data (or for its writer to close) by default.
constexpr std::chrono::milliseconds kPipeWaitTime{30000};

// A file opened with OpenFileForReading, closed on destruction. A FIFO or pipe (where allowed) is
// read as its data comes, each read waiting at most `pipeWaitTime`.
class TReadableFile {
public:
    explicit TReadableFile(const std::string& fileName, bool allowFifo = false,
                           std::chrono::milliseconds pipeWaitTime = kPipeWaitTime);
    ~TReadableFile();
    TReadableFile(const TReadableFile&) = delete;
    TReadableFile& operator=(const TReadableFile&) = delete;

    // What fstat said of the open file.
    const struct stat& Info() const { return m_info; }

    // Reads up to `size` bytes into `buffer`; 0 at the end of the file. A read that a signal
    // interrupts is retried; a failure raises EInOutError ("Cannot read file"), also a pipe that
    // gives no data and is not closed within the wait time.
    std::size_t Read(void* buffer, std::size_t size);

private:
    void WaitForData();
    std::string WaitText() const;

    std::string m_fileName;
    int m_fd = -1;
    struct stat m_info {};
    std::chrono::milliseconds m_pipeWaitTime;
};

} // namespace zarn
