// The atomic writer: a file is replaced or created whole, or not at all.
#pragma once

#include "platform/Errors.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace zarn {

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
    // For a file only its writer may read (a private key; Mode must be set): it stays the writer's,
    // also when it replaces a file, and a file of another user is never replaced.
    bool OwnedByWriter = false;
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
//   and its permission bits unless `options.Mode` sets them; with OwnedByWriter it is the
//   writer's, and another user's file is refused.
// - In a sticky folder another user's file is refused where the rename would fail or where the
//   kernel's protected_regular would refuse an open (a folder everyone may write to, a file that is
//   not the folder owner's); a symbolic link there is followed only when it is the writer's or the
//   folder owner's (protected_symlinks). These refusals come before anything is written, and
//   CheckFileCanBeWritten makes them too.
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

} // namespace zarn
