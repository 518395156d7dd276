// Helpers shared by the test programs: a seeded random source and temporary folders.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>

namespace zarn::test {

// The seed for randomised tests: ZARN_TEST_SEED from the environment, else a fixed value. Tests
// print it with their failures (SCOPED_TRACE(SeedTrace())) so a failing case can be replayed.
std::uint64_t TestSeed();
std::string SeedTrace();

// A generator seeded with TestSeed() plus `salt`, so that tests do not share one sequence.
std::mt19937_64 SeededGenerator(std::uint64_t salt = 0);

// `count` random bytes.
std::string RandomBytes(std::mt19937_64& generator, std::size_t count);

// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TTemporaryFolder {
public:
    TTemporaryFolder();
    ~TTemporaryFolder();
    TTemporaryFolder(const TTemporaryFolder&) = delete;
    TTemporaryFolder& operator=(const TTemporaryFolder&) = delete;

    const std::string& Path() const { return m_path; }
    // Path() + "/" + name.
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

// Writes `content` to `fileName` as it is (binary); fails the test when that is not possible.
void WriteFile(const std::string& fileName, const std::string& content);
// The whole content of `fileName`; fails the test when it cannot be read.
std::string ReadFile(const std::string& fileName);

// Runs `action` in a child process without the rights of root: as root the child takes the
// identity of nobody first. Returns the child's exit code (`action`'s result), or 100 when the
// child did not exit normally. Use for tests of files that must not be readable or writable,
// which root could otherwise read and write.
int RunUnprivileged(const std::function<int()>& action);

// While it lives, files of this process cannot grow beyond `bytes` (RLIMIT_FSIZE), and a write
// beyond that fails with EFBIG ("File too large") as on a full disk instead of ending the process
// with SIGXFSZ. The limit and the signal's handler are restored on destruction.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(unsigned long bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    unsigned long m_savedCurrent = 0;
    void (*m_savedHandler)(int) = nullptr;
};

// Runs `command` with the shell in `folder`, standard input from /dev/null and its output discarded;
// returns its exit status (-1 when it did not exit normally). For oracles such as the openssl
// command line.
int Shell(const std::string& folder, const std::string& command);
// Standard output of `command` run with the shell in `folder` (standard error discarded).
std::string ShellOutput(const std::string& folder, const std::string& command);

// Makes, with the openssl command line in `folder`, the keys both key format suites start from:
// rsa.pem (1024 bits) and rsa2048.pem, ec.pem (P-256), rsa.pem's public key as spki.pem, spki.der,
// pkcs1-public.pem and pkcs1-public.der, its private key as pkcs1-private.pem and as encrypted.pem
// (PKCS#8, AES-256, passphrase "right"), and a self-signed certificate of it as certificate.pem and
// certificate.der. Returns the first command that failed, or an empty string.
std::string MakeOpenSslKeys(const std::string& folder);

// Hex text of bytes, upper case, for failure messages.
std::string Hex(const std::string& bytes);

} // namespace zarn::test
