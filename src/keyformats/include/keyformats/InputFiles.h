// Files that zarnkey reads because a user named them: key files in the standard formats and
// passphrase files.
//
// Only regular files are read whole: a folder, a FIFO, a device or a socket is refused before
// anything is read from it, so a command never blocks on a pipe nobody writes or reads an endless
// device. A passphrase file may also be a pipe, as `--passphrase-file <(command)` gives, because
// only its first line is read.
//
// Failures to open or read raise EInOutError with "Cannot open file" or "Cannot read file", the
// name in double quotes and the reason, as the key-file reader words them. A passphrase file that
// opens but holds no usable passphrase raises EPassphraseFileError.
#pragma once

#include "platform/Errors.h"

#include <cstddef>
#include <string>

namespace zarn {

// A passphrase file that holds no usable passphrase (empty first line, first line too long).
class EPassphraseFileError : public Exception {
public:
    using Exception::Exception;
};

// The largest file ReadInputFile reads by default; a key file or a bundle of certificates is far smaller.
constexpr std::size_t MaxInputFileBytes = 16 * 1024 * 1024;

// The longest passphrase, in bytes, that ReadPassphraseFile accepts.
constexpr std::size_t MaxPassphraseBytes = 1023;

// The whole content of the regular file `fileName` (or of a pipe, where `allowPipe`), as bytes.
// Raises EInOutError when it cannot be opened or read, is not a regular file ("it is not a regular
// file"; a folder gives the system's "Is a directory"), is larger than `maxBytes`, or is a pipe
// that gives no data within kPipeWaitTime.
std::string ReadInputFile(const std::string& fileName, std::size_t maxBytes = MaxInputFileBytes,
                          bool allowPipe = false);

struct TPassphrase {
    std::string Text;              // the first line, without its LF or CR LF
    bool ReadableByOthers = false; // a regular file whose mode lets its group or others read it
};

// The first line of `fileName` as a passphrase (a regular file or a pipe, waited for at most
// kPipeWaitTime): the bytes up to the first LF (or the end of the file), the passphrase OpenSSL's "-passin
// file:" reads from the same file. A line holding a CR (also a CR LF line end) or a NUL byte raises
// EPassphraseFileError: OpenSSL would keep the CR, or end at the NUL, and read another passphrase. `fileName`
// may be a regular file or a pipe; anything else raises EInOutError like ReadInputFile. An empty first line,
// or one longer than MaxPassphraseBytes, raises EPassphraseFileError. What follows the first line is never
// used.
TPassphrase ReadPassphraseFile(const std::string& fileName);

} // namespace zarn
