#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zarn::test {

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

int Shell(const std::string& folder, const std::string& command) {
    const int status =
        std::system(("cd " + Quote(folder) + " && (" + command + ") </dev/null >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellOutput(const std::string& folder, const std::string& command) {
    FILE* pipe = popen(("cd " + Quote(folder) + " && (" + command + ") </dev/null 2>/dev/null").c_str(), "r");
    std::string output;
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    pclose(pipe);
    return output;
}

std::string MakeOpenSslKeys(const std::string& folder) {
    const char* const commands[] = {
        "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa.pem",
        "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa2048.pem",
        "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.pem",
        "openssl pkey -in rsa.pem -pubout -out spki.pem",
        "openssl pkey -in rsa.pem -pubout -outform DER -out spki.der",
        "openssl rsa -in rsa.pem -RSAPublicKey_out -out pkcs1-public.pem",
        "openssl rsa -in rsa.pem -RSAPublicKey_out -outform DER -out pkcs1-public.der",
        "openssl rsa -in rsa.pem -traditional -out pkcs1-private.pem",
        "openssl pkcs8 -topk8 -v2 aes-256-cbc -in rsa.pem -passout pass:right -out encrypted.pem",
        "openssl req -x509 -key rsa.pem -subj /CN=zarn -days 2 -out certificate.pem",
        "openssl x509 -in certificate.pem -outform DER -out certificate.der",
    };
    for (const char* command : commands) {
        if (Shell(folder, command) != 0)
            return command;
    }
    return "";
}

std::uint64_t TestSeed() {
    static const std::uint64_t seed = [] {
        const char* text = std::getenv("ZARN_TEST_SEED");
        return text != nullptr ? std::strtoull(text, nullptr, 0) : 20261208ULL;
    }();
    return seed;
}

std::string SeedTrace() {
    return "ZARN_TEST_SEED=" + std::to_string(TestSeed());
}

std::mt19937_64 SeededGenerator(std::uint64_t salt) {
    return std::mt19937_64(TestSeed() * 0x9E3779B97F4A7C15ULL + salt);
}

std::string RandomBytes(std::mt19937_64& generator, std::size_t count) {
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

TTemporaryFolder::TTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zarn-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TTemporaryFolder::~TTemporaryFolder() {
    std::error_code ignored;
    // Folders made read-only by a test must become writable again to be removed.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ignored))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::string TTemporaryFolder::File(const std::string& name) const {
    return m_path + "/" + name;
}

void WriteFile(const std::string& fileName, const std::string& content) {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out.good()) << "cannot write " << fileName;
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << fileName;
}

std::string ReadFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << fileName;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

int RunUnprivileged(const std::function<int()>& action) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(101);
        _exit(action());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TFileSizeLimit::TFileSizeLimit(unsigned long bytes) {
    m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_savedCurrent = limit.rlim_cur;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("cannot set a file-size limit");
}

TFileSizeLimit::~TFileSizeLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = m_savedCurrent;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_savedHandler);
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        text.push_back(digits[static_cast<unsigned char>(c) >> 4]);
        text.push_back(digits[static_cast<unsigned char>(c) & 15]);
    }
    return text;
}

} // namespace zarn::test
