// `zarnkey show` on large key files whose key line stands at the end: throughput and peak memory
// of the whole process, next to a plain read of the same file (read(2) in 64 KiB pieces, counting
// line feeds) in the same run. The peak memory is that of the zarnkey process (an upper bound: it
// includes the small image of this program from which it is spawned). Files of 100 MB: many junk
// lines; one junk line of 100 MB; one key line followed by 100 MB of hexadecimal digits. Files of
// 256 MB, where the cost per line counts: empty lines; short text lines; lines of hexadecimal digits
// that fail at their last character. Those three aim at 300 MB/s or more in under 16 MiB.
//
// Then `zarnkey check` on a folder of 10,000 key files of 1024-bit keys, each a different record
// (owner and index), next to `cat` reading the same files, both spawned the same way.
#include <openssl/sha.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 100u << 20;
const char* const kKeyLine = "123456789F05121201010201ABCD0371D2B81C63DA4E8D1BA2C28532DD33C77D4A3C5B\r\n";

struct TMeasure {
    double Seconds = 0;
    long PeakKiB = 0;
};

// Runs `argv` with standard output to /dev/null; its time and peak memory.
TMeasure Spawn(const std::vector<const char*>& args) {
    std::vector<char*> argv;
    for (const char* arg : args)
        argv.push_back(const_cast<char*>(arg));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    posix_spawn_file_actions_destroy(&actions);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status)) {
        std::fprintf(stderr, "%s did not finish\n", argv[0]);
        std::exit(1);
    }
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

TMeasure RunZarnKey(const std::string& file) {
    return Spawn({ZARNKEY_PATH, "show", file.c_str()});
}

TMeasure PlainRead(const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(file.c_str(), O_RDONLY);
    std::vector<char> buffer(65536);
    std::size_t lines = 0;
    for (ssize_t count; (count = read(fd, buffer.data(), buffer.size())) > 0;)
        lines += static_cast<std::size_t>(std::count(buffer.data(), buffer.data() + count, '\n'));
    close(fd);
    const auto end = std::chrono::steady_clock::now();
    if (lines == static_cast<std::size_t>(-1))
        std::puts("");
    return {std::chrono::duration<double>(end - start).count(), 0};
}

void WriteJunkLines(const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    const std::string line = "junk line of a key file, not a key: " + std::string(60, 'x') + "\r\n";
    for (std::size_t written = 0; written < kFileSize; written += line.size())
        out << line;
    out << kKeyLine;
}

void WriteOneJunkLine(const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    out << "-" << std::string(kFileSize, 'A') << "\r\n" << kKeyLine;
}

void WriteLongKeyLine(const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    std::string line = kKeyLine;
    line.resize(line.size() - 2);
    out << line << std::string(kFileSize, '0') << "\r\n";
}

constexpr std::size_t kShortLinesSize = 256u << 20;

// Lines of `line` up to 256 MB, then the key line.
void WriteRepeatedLines(const std::string& file, const std::string& line) {
    std::ofstream out(file, std::ios::binary);
    std::string block;
    while (block.size() < (1u << 20))
        block += line;
    for (std::size_t written = 0; written < kShortLinesSize; written += block.size())
        out << block;
    out << kKeyLine;
}

void WriteEmptyLines(const std::string& file) {
    WriteRepeatedLines(file, "\r\n");
}

void WriteShortLines(const std::string& file) {
    WriteRepeatedLines(file, "Zarn key\r\n");
}

void WriteHexLinesFailingLast(const std::string& file) {
    WriteRepeatedLines(file, "0123456789ABCDEF0123456789ABCDEF:\r\n");
}

// A key file line: the record's fields in hexadecimal, then the SHA-1 of their bytes.
std::string KeyLine(unsigned number) {
    char owner[11];
    std::snprintf(owner, sizeof owner, "%010u", number / 256);
    char fields[32];
    std::snprintf(fields, sizeof fields, "%s%02X122901018003", owner, number % 256);
    std::string hex = fields;
    for (int i = 0; i < 128; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02X", (number * 131 + static_cast<unsigned>(i) * 7 + 1) & 0xFF);
        hex += byte;
    }
    hex += "010001";
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    for (const unsigned char byte : digest) {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", byte);
        hex += text;
    }
    return hex + "\r\n";
}

template <typename F>
TMeasure Best(F measure, const std::string& file) {
    TMeasure best = measure(file);
    for (int i = 0; i < 4; ++i) {
        const TMeasure next = measure(file);
        best.Seconds = std::min(best.Seconds, next.Seconds);
        best.PeakKiB = std::max(best.PeakKiB, next.PeakKiB);
    }
    return best;
}

// `zarnkey check` of a folder of 10,000 key files, next to `cat` of the same files.
void MeasureInventory(const std::string& folder) {
    constexpr unsigned kFiles = 10000;
    const std::string keys = folder + "/keys";
    std::filesystem::create_directories(keys);
    std::vector<std::string> files;
    for (unsigned i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/k%05u.key", i);
        files.push_back(keys + name);
        std::ofstream(files.back(), std::ios::binary) << KeyLine(i);
    }
    // Every record must import cleanly and none may collide, or the measure is of something else.
    if (std::system((std::string(ZARNKEY_PATH) + " check " + keys + " >/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "the generated key files do not check cleanly\n");
        std::exit(1);
    }
    std::vector<const char*> cat = {"/bin/cat"};
    for (const std::string& file : files)
        cat.push_back(file.c_str());
    const auto check = [&](const std::string&) { return Spawn({ZARNKEY_PATH, "check", keys.c_str()}); };
    const auto plain = [&](const std::string&) { return Spawn(cat); };
    const TMeasure ours = Best(check, keys);
    const TMeasure base = Best(plain, keys);
    std::printf("\n%-22s %12s %14s %12s %16s\n", "10,000 key files", "check s", "cat s", "ours/base",
                "peak memory MiB");
    std::printf("%-22s %12.3f %14.3f %12.2f %16.1f\n", "one folder", ours.Seconds, base.Seconds,
                ours.Seconds / base.Seconds, static_cast<double>(ours.PeakKiB) / 1024);
}

} // namespace

int main() {
    const std::string folder = (std::filesystem::temp_directory_path() / "zarn-keyfile-bench").string();
    std::filesystem::create_directories(folder);
    struct Case {
        const char* name;
        void (*write)(const std::string&);
    };
    const Case cases[] = {
        {"junk lines", WriteJunkLines},          {"one 100 MB junk line", WriteOneJunkLine},
        {"100 MB key line", WriteLongKeyLine},   {"256 MB empty lines", WriteEmptyLines},
        {"256 MB short lines", WriteShortLines}, {"256 MB hex, last bad", WriteHexLinesFailingLast}};
    std::printf("%-22s %12s %14s %12s %16s\n", "file", "zarnkey MB/s", "plain read MB/s", "ours/base",
                "peak memory MiB");
    for (const Case& c : cases) {
        const std::string file = folder + "/bench.key";
        // Written by a child process, so that this process stays small: a spawned child's peak
        // memory counts the high-water mark of the image it was started from.
        const pid_t writer = fork();
        if (writer == 0) {
            c.write(file);
            _exit(0);
        }
        waitpid(writer, nullptr, 0);
        const double megabytes = static_cast<double>(std::filesystem::file_size(file)) / (1 << 20);
        PlainRead(file); // warm the page cache
        const TMeasure ours = Best(RunZarnKey, file);
        const TMeasure base = Best(PlainRead, file);
        std::printf("%-22s %12.0f %14.0f %12.2f %16.1f\n", c.name, megabytes / ours.Seconds,
                    megabytes / base.Seconds, (megabytes / ours.Seconds) / (megabytes / base.Seconds),
                    static_cast<double>(ours.PeakKiB) / 1024);
    }
    std::filesystem::remove(folder + "/bench.key");
    MeasureInventory(folder);
    std::filesystem::remove_all(folder);
    return 0;
}
