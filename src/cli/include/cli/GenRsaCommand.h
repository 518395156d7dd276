// zarnkey genrsa: RSA key-pair generation on the console.
//
//   zarnkey genrsa [--bytes N] [--attempts N] [--json] [--private-out FILE [--passphrase-file F] [--force]
//                  [--record-out FILE --owner-id DIGITS --index N --exp-date MMYY]]
//
// N is even and from 4 to 254: the key record holds at most 255 bytes of modulus, and the primes
// aim at N div 2 and N div 2 - 1 bytes, so an odd length or one below 4 never gives a valid pair.
// Any other N is a usage error.
//
// Progress (the status and runs texts) goes to standard error, one line each; on a terminal the line
// is overwritten in place. At the end standard output gets the outcome, the number of runs and the
// last run's texts (or one JSON object with them). Ctrl-C asks to stop: the current run finishes and
// the outcome is kgStopped; a second Ctrl-C ends the program at once. A generation that ends after its
// 50 runs without a valid pair is followed by a new one, up to --attempts generations in all, each
// announced on standard error. Exit status 0 for a valid key pair, 1 for a stopped generation or when
// every attempt ran out of runs, 2 for a length outside 4..254 or
// odd, 3 when standard output cannot be written.
//
// Without --private-out the private exponent is printed with the rest. With it, the key pair goes to
// FILE as a PKCS#8 PEM private key with its primes and CRT values, mode 0600, encrypted with the
// first line of --passphrase-file when that is given, and the private exponent is printed nowhere.
// --record-out also writes the public key as a key record (both indicators 1) through the record's
// own export, and checks that it imports with status 0. A record needs --private-out: a record whose
// private key was only printed is one step from a key that nobody holds.
//
// Everything that can fail before the generation is checked before it: the passphrase file, the
// record fields (the owner identifier 10 digits, the index 0..255, the date 4 digits; else a usage
// error), and each target (its folder exists and may be written, it is not a folder or another
// non-regular file, and without --force it does not exist). The writes check again and never replace
// a file that appeared meanwhile without --force. Only a valid pair is written; the private key is
// written before the record. An existing target without --force exits 1, a passphrase file without
// a usable first line exits 1, a target that cannot be written exits 3.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace zarn {

constexpr std::int32_t kMinGenRsaBytes = 4;
constexpr std::int32_t kMaxGenRsaBytes = 254;

struct TGenRsaOptions {
    std::int32_t Bytes = 128;
    std::int32_t Attempts = 3; // generations started before kgMaxRunsReached is the outcome
    bool Json = false;
    std::string PrivateOut;
    std::string PassphraseFile;
    bool Replace = false;
    std::string RecordOut;
    std::string OwnerId, Index, ExpDate;
};

// Generates a key pair. Progress goes to `err`; it is overwritten in place only when `err` is the
// process's standard error and that is a terminal. Returns the exit status.
int RunGenRsa(const TGenRsaOptions& options, std::ostream& out, std::ostream& err);

} // namespace zarn
