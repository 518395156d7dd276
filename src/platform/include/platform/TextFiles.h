// Files as the key-file operations use them: the folder part of a path, the existence tests, a
// line reader with the key file's line rules, and an atomic writer.
//
// Line rules of the reader: a line ends at a line feed (LF); every carriage return (CR) is dropped,
// so CR LF ends a line and a lone CR neither ends the line nor stays in it. A character 26 (Ctrl-Z)
// ends the line it stands in (the rest up to the next LF is skipped); one at the start of a line
// ends the file. Lines may have any length; bytes 128..255 pass unchanged. Lines are read in binary
// mode from a buffer, so a file of any size is scanned in bounded memory when a filter is used.
//
// Only regular files are read or replaced (a symbolic link counts as the file it names). Every
// failure raises EInOutError with the file name and the operating system's reason.
#pragma once

#include "platform/Errors.h"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace zarn {

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

// Opens `fileName` for reading and returns its descriptor (close-on-exec), which the caller closes.
// Anything but a regular file (or a FIFO, where `allowFifo`) is refused before it is opened, so
// that opening has no effect on a device and never waits on a FIFO, and the open file is checked
// again in case the name changed in between. A folder raises EInOutError with "Is a directory",
// another kind of file with "it is not a regular file", any other failure with the system's reason.
// An allowed FIFO is opened blocking, so that reading it waits for its writer.
int OpenFileForReading(const std::string& fileName, bool allowFifo = false);

// What the reader does with each byte of a line (CR, LF and Ctrl-Z keep their line rules).
struct TLineFilter {
    enum TByteClass : unsigned char {
        lfKeep,   // stored in the line (up to KeepLimit such bytes; later ones are checked only)
        lfDrop,   // read over, never stored
        lfReject, // stored as the line's last byte; the rest of the line is skipped unstored
    };
    std::array<TByteClass, 256> Classes{};
    std::size_t KeepLimit = 0;
};

class TTextFileReader {
public:
    // Opens `fileName` for reading. Raises EInOutError when that fails, and when the name (after
    // symbolic links) is not a regular file: a folder, a FIFO, a device or a socket is refused
    // before it is opened, so nothing blocks or reads for ever.
    explicit TTextFileReader(const std::string& fileName);
    ~TTextFileReader();
    TTextFileReader(const TTextFileReader&) = delete;
    TTextFileReader& operator=(const TTextFileReader&) = delete;

    // True when no line is left: the end of the data, or a Ctrl-Z at the start of the next line.
    bool Eof();

    // Reads the next line (without its line end) into `line`. Without a filter every byte except
    // CR is stored; with one, bytes are stored, dropped or rejected by their class.
    void ReadLine(std::string& line, const TLineFilter* filter = nullptr);

    // Reads on to the first line that holds at least one kept byte and no rejected byte, and stores
    // that line's kept bytes (at most KeepLimit) in `line`; the reader then stands after it. Returns
    // false, with `line` empty, when no such line is left. Lines passed over cost one table look-up
    // per byte and nothing per line, and the rest of a rejected line is skipped unread.
    bool FindLine(std::string& line, const TLineFilter& filter);

private:
    bool Fill();
    void SkipRestOfLine();

    std::string m_fileName;
    int m_fd = -1;
    std::array<unsigned char, 65536> m_buffer{}; // filled up to its last byte, which FindLine uses
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_atEnd = false;
};

// Raised by a write that may not replace a file when a file of that name exists, also one that
// appeared while the write was under way. The text names the file and says that it exists.
class EFileExists : public EInOutError {
public:
    using EInOutError::EInOutError;
};

struct TWriteOptions {
    // False: never replace an existing file; the write raises EFileExists instead.
    bool MayReplace = true;
    // The new file's permission bits. Unset: a replaced file's bits, or 0666 less the umask for a
    // new file.
    std::optional<mode_t> Mode;
};

// Writes `content` as it is to `fileName`, all or nothing:
// - A symbolic link is followed to the file it names. An existing target must be a regular file
//   with one name: a folder, a FIFO, a device or a socket, and a file with several hard links
//   (replacing it would leave the other names on the old content), are refused with EInOutError
//   and nothing on disk changes.
// - The content goes to a temporary file in the target's folder (unnamed where the file system
//   allows, else ".zarnkey-XXXXXX"), is flushed to disk and then takes the target's name in one
//   step, so a reader sees the old file or the new one, never a part. A failure raises EInOutError
//   with the name and the reason ("File too large" at a file-size limit, not SIGXFSZ), and leaves
//   the old file as it was and no temporary file behind.
// - A replaced file keeps its owner and group where the process may set them (root always may;
//   otherwise the new file is the writer's, with the old group where the writer belongs to it),
//   and its permission bits unless `options.Mode` sets them.
// - With MayReplace false the final step itself refuses a file that exists (renameat2 with
//   RENAME_NOREPLACE, or a hard link, or an exclusive create where the file system has neither),
//   so of two such writes to one new name exactly one succeeds; the other raises EFileExists.
// - SIGINT, SIGTERM, SIGHUP and SIGQUIT are held while the temporary file exists and act once it
//   has been renamed or removed; SIGXFSZ is ignored for the time of the write. Both dispositions
//   and the signal mask are restored afterwards. Not for use from several threads at once.
void WriteFileAtomically(const std::string& fileName, const std::string& content,
                         const TWriteOptions& options = {});

// The checks WriteFileAtomically makes before it writes anything, for a caller that has costly work
// to do before the write and wants to refuse early: raises what the write would raise for a target
// that exists (EFileExists without MayReplace; EInOutError for a folder, a FIFO, a device, a socket
// or a file with several hard links), and EInOutError ("Cannot create file" with the reason) when
// the target's folder does not exist or the process may not create files in it. Passing is no
// promise: the write checks everything again, as the target may change in between.
void CheckFileCanBeWritten(const std::string& fileName, const TWriteOptions& options = {});

// WriteFileAtomically with the single line `line` followed by CR LF: the key file's writer.
void WriteTextFileLine(const std::string& fileName, const std::string& line,
                       const TWriteOptions& options = {});

// How the writer makes its temporary file and gives it the final name. Automatic takes an unnamed
// file (O_TMPFILE) where the file system has it, else a named one, and for a write that may not
// replace the first of RENAME_NOREPLACE, a hard link and an exclusive create that the file system
// supports. The others force a named temporary file and one of those final steps.
enum class TWriteMethod { wmAutomatic, wmRenameNoReplace, wmLinkThenUnlink, wmExclusiveCreate };

// For tests: the method the writer uses, and an action it runs right before its final step (after
// its last check of the target), to stand for another process acting at the worst moment.
void SetWriteHooksForTests(TWriteMethod method, std::function<void()> beforeFinalStep = {});

} // namespace zarn
