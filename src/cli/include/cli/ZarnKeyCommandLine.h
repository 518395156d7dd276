// zarnkey: the key record's import, check and export, and key-pair generation, for scripts.
//
//   zarnkey show FILE [--json]      import FILE and print the status, the message and every property
//   zarnkey check FILE...           one line per file: its status and message
//   zarnkey export --out FILE ...   write a key file from options, from `show --json` output or
//                                   from an RSA key or certificate (--from-key)
//   zarnkey genrsa [--bytes N]      generate an RSA key pair, optionally into a private key file and
//                                   a key file (cli/GenRsaCommand.h)
//   zarnkey pubkey FILE             the record's key as PEM or DER
//   zarnkey help [COMMAND]          what --help or COMMAND --help prints
//   zarnkey --version               "zarnkey" and the version
//
// Exit status: 0 when the operation's status is 0, 1 for any other status (and for an export
// without --force onto a file that exists, and for a key or passphrase file that cannot be used:
// EKeyFormatError, EPassphraseFileError), 2 for a usage error, 3 for a raised error (its text goes
// to standard error), such as standard output that could not be written.
#pragma once

#include "cli/Command.h"

#include <iosfwd>

namespace zarn {

// Runs the command line on `argv` (argv[0] is the program name), printing results to `out` and
// errors and warnings to `err`. Returns the exit status.
int RunZarnKey(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// The end of the program: flushes and closes standard output (std::cout and C's stdout). Returns
// `exitStatus`, or kExitRaisedError with "zarnkey: cannot write standard output: <reason>" on `err`
// when anything written there was lost (a message already given for it is not repeated).
int FinishStandardOutput(int exitStatus, std::ostream& err);

} // namespace zarn
