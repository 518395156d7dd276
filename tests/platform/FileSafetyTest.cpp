// What the writer and the reader promise about the files around them: only regular files with one
// name are replaced, owner, group and mode stay, every valid name can be written, a write that may
// not replace never does, and signals or a file-size limit never leave a part or a temporary file.
// Signal and size-limit cases run in child processes. (The reader's refusals are tested through the
// import, and races between whole exports through zarnkey.)
#include "platform/AtomicWriter.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/WriteHooksForTests.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zarn {
namespace {

using test::ReadFile;
using test::TTemporaryFolder;
using test::WriteFile;

// The names in `folder`, sorted.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The text of the EInOutError that `write` raises ("" when it raises none).
template <typename F>
std::string ErrorOf(F write) {
    try {
        write();
    } catch (const EInOutError& error) {
        return error.Message();
    }
    return std::string();
}

struct stat StatOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
}

// Forks; the child runs `action` and exits with its result. Returns the raw wait status.
int WaitStatusOfChild(const std::function<int()>& action) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
        _exit(action());
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

class TWriteHooks {
public:
    explicit TWriteHooks(TWriteMethod method, std::function<void()> beforeFinalStep = {}) {
        SetWriteHooksForTests(method, std::move(beforeFinalStep));
    }
    ~TWriteHooks() { SetWriteHooksForTests(TWriteMethod::wmAutomatic); }
};

const TWriteMethod kMethods[] = {TWriteMethod::wmAutomatic, TWriteMethod::wmRenameNoReplace,
                                 TWriteMethod::wmLinkThenUnlink, TWriteMethod::wmExclusiveCreate};

TEST(FileSafety, OnlyARegularFileIsReplaced) {
    TTemporaryFolder folder;
    std::vector<std::string> nodes;
    ASSERT_EQ(mkfifo(folder.File("fifo").c_str(), 0644), 0);
    nodes.push_back(folder.File("fifo"));
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketName = folder.File("socket");
    ASSERT_LT(socketName.size(), sizeof address.sun_path);
    std::copy(socketName.begin(), socketName.end(), address.sun_path);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    nodes.push_back(socketName);
    // A null device of our own (needs the right to make device nodes).
    if (mknod(folder.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        nodes.push_back(folder.File("null"));
    ASSERT_EQ(symlink("fifo", folder.File("link-to-fifo").c_str()), 0);
    nodes.push_back(folder.File("link-to-fifo"));

    for (const std::string& node : nodes) {
        SCOPED_TRACE(node);
        const struct stat before = StatOf(node);
        const std::string error = ErrorOf([&] { WriteTextFileLine(node, "ABCD"); });
        EXPECT_NE(error.find(node), std::string::npos) << error;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        const struct stat after = StatOf(node);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
    close(server);
    EXPECT_TRUE(S_ISFIFO(StatOf(folder.File("fifo")).st_mode));
    EXPECT_EQ(Entries(folder.Path()).size(), nodes.size()) << "no temporary file is left";
}

TEST(FileSafety, HardLinkedFileIsRefusedAndBothNamesKeepTheirContent) {
    TTemporaryFolder folder;
    WriteFile(folder.File("a.key"), "old\r\n");
    ASSERT_EQ(link(folder.File("a.key").c_str(), folder.File("b.key").c_str()), 0);
    ASSERT_EQ(symlink("a.key", folder.File("link.key").c_str()), 0);
    for (const char* name : {"a.key", "link.key"}) {
        const std::string error = ErrorOf([&] { WriteTextFileLine(folder.File(name), "NEW"); });
        EXPECT_NE(error.find(folder.File(name)), std::string::npos) << error;
        EXPECT_NE(error.find("2 hard links"), std::string::npos) << error;
    }
    EXPECT_EQ(ReadFile(folder.File("a.key")), "old\r\n");
    EXPECT_EQ(ReadFile(folder.File("b.key")), "old\r\n");
    EXPECT_EQ(StatOf(folder.File("a.key")).st_nlink, 2u);
    EXPECT_EQ(Entries(folder.Path()), (std::vector<std::string>{"a.key", "b.key", "link.key"}));
}

TEST(FileSafety, ReplacedFileKeepsOwnerGroupAndMode) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to give a file to another user";
    TTemporaryFolder folder;
    chmod(folder.Path().c_str(), 0777);
    const std::string theirs = folder.File("theirs.key");
    WriteFile(theirs, "old\r\n");
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0640), 0);
    WriteTextFileLine(theirs, "NEW");
    EXPECT_EQ(ReadFile(theirs), "NEW\r\n");
    struct stat info = StatOf(theirs);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A mode given by the caller wins; the owner still stays.
    TWriteOptions privateKey;
    privateKey.Mode = 0600;
    WriteFileAtomically(theirs, "SECRET\n", privateKey);
    info = StatOf(theirs);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, 65534u);

    // An ordinary user replacing root's file in a folder it may write: the new file is its own, with
    // the old permission bits, and root's group only where the user belongs to it (nobody does not).
    const std::string roots = folder.File("roots.key");
    WriteFile(roots, "old\r\n");
    ASSERT_EQ(chmod(roots.c_str(), 0644), 0);
    EXPECT_EQ(test::RunUnprivileged([&] {
                  try {
                      WriteTextFileLine(roots, "BY NOBODY");
                  } catch (const EInOutError&) {
                      return 1;
                  }
                  return 0;
              }),
              0);
    EXPECT_EQ(ReadFile(roots), "BY NOBODY\r\n");
    info = StatOf(roots);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(Entries(folder.Path()), (std::vector<std::string>{"roots.key", "theirs.key"}));
}

TEST(FileSafety, NewFileGetsTheUmaskOrTheGivenMode) {
    TTemporaryFolder folder;
    const mode_t mask = umask(022);
    WriteTextFileLine(folder.File("public.key"), "AB");
    TWriteOptions privateKey;
    privateKey.Mode = 0600;
    privateKey.MayReplace = false;
    WriteFileAtomically(folder.File("private.pem"), "-----BEGIN\nAB\n-----END\n", privateKey);
    umask(mask);
    EXPECT_EQ(StatOf(folder.File("public.key")).st_mode & 07777, 0644u);
    EXPECT_EQ(StatOf(folder.File("private.pem")).st_mode & 07777, 0600u);
    EXPECT_EQ(ReadFile(folder.File("private.pem")), "-----BEGIN\nAB\n-----END\n") << "written as given";
}

TEST(FileSafety, EveryValidNameCanBeWritten) {
    TTemporaryFolder folder;
    for (const std::size_t length : {1u, 200u, 247u, 248u, 250u, 255u}) {
        SCOPED_TRACE(length);
        const std::string name = folder.File(std::string(length, 'k'));
        EXPECT_EQ(ErrorOf([&] { WriteTextFileLine(name, "AB"); }), "");
        EXPECT_EQ(ReadFile(name), "AB\r\n");
        EXPECT_EQ(ErrorOf([&] { WriteTextFileLine(name, "CD"); }), "") << "and replaced";
        EXPECT_EQ(ReadFile(name), "CD\r\n");
        std::filesystem::remove(name);
    }
    const std::string tooLong = folder.File(std::string(256, 'k'));
    EXPECT_NE(ErrorOf([&] { WriteTextFileLine(tooLong, "AB"); }).find("File name too long"),
              std::string::npos);
    EXPECT_TRUE(Entries(folder.Path()).empty());
}

TEST(FileSafety, WriteThatMayNotReplaceNeverDoes) {
    for (const TWriteMethod method : kMethods) {
        SCOPED_TRACE(static_cast<int>(method));
        TTemporaryFolder folder;
        const std::string target = folder.File("new.key");
        TWriteOptions noReplace;
        noReplace.MayReplace = false;
        {
            const TWriteHooks hooks(method);
            WriteFileAtomically(target, "FIRST\r\n", noReplace);
            EXPECT_EQ(ReadFile(target), "FIRST\r\n");
            // There from the start.
            try {
                WriteFileAtomically(target, "SECOND\r\n", noReplace);
                ADD_FAILURE() << "replaced an existing file";
            } catch (const EFileExists& error) {
                EXPECT_NE(error.Message().find(target), std::string::npos) << error.Message();
                EXPECT_NE(error.Message().find("File exists"), std::string::npos) << error.Message();
            }
            EXPECT_EQ(ReadFile(target), "FIRST\r\n");
            // Replacing when it may, through the same method's temporary file.
            WriteFileAtomically(target, "THIRD\r\n");
            EXPECT_EQ(ReadFile(target), "THIRD\r\n");
        }
        // Appearing at the worst moment: after the writer's last check, before its final step.
        const std::string late = folder.File("late.key");
        const TWriteHooks hooks(method, [&] { WriteFile(late, "OTHER WRITER\r\n"); });
        EXPECT_THROW(WriteFileAtomically(late, "MINE\r\n", noReplace), EFileExists);
        EXPECT_EQ(ReadFile(late), "OTHER WRITER\r\n");
        EXPECT_EQ(Entries(folder.Path()), (std::vector<std::string>{"late.key", "new.key"}));
    }
}

// True when process `pid` has a file open in `folder`: the writer's temporary file.
bool HasFileOpenIn(pid_t pid, const std::string& folder) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (dir == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        char target[4096];
        const ssize_t length = readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)).rfind(folder + "/", 0) == 0)
            found = true;
    }
    closedir(dir);
    return found;
}

TEST(FileSafety, TerminationSignalsWaitUntilTheTemporaryFileIsGone) {
    TTemporaryFolder folder;
    const std::string canonical = std::filesystem::canonical(folder.Path()).string();
    const std::string target = canonical + "/big.key";
    const std::string content(48 << 20, 'B');
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signal));
        bool caught = false;
        for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
            WriteFile(target, "old\r\n");
            std::fflush(nullptr);
            const pid_t child = fork();
            if (child == 0) {
                const rlimit noCore{0, 0};
                setrlimit(RLIMIT_CORE, &noCore);
                try {
                    WriteTextFileLine(target, content);
                } catch (...) {
                    _exit(2);
                }
                _exit(0);
            }
            int status = 0;
            while (waitpid(child, &status, WNOHANG) == 0) {
                if (HasFileOpenIn(child, canonical)) {
                    kill(child, signal);
                    caught = true;
                    waitpid(child, &status, 0);
                    break;
                }
            }
            if (!caught)
                continue;
            ASSERT_TRUE(WIFSIGNALED(status)) << "the signal was lost";
            EXPECT_EQ(WTERMSIG(status), signal);
            EXPECT_EQ(std::filesystem::file_size(target), content.size() + 2) << "the write finished first";
            EXPECT_EQ(Entries(canonical), std::vector<std::string>{"big.key"});
        }
        EXPECT_TRUE(caught) << "the write was never seen in progress";
    }
}

volatile std::sig_atomic_t g_sizeWhenHandled = -1;
const char* g_handledTarget = nullptr;

extern "C" void RecordTargetSize(int) {
    struct stat info {};
    g_sizeWhenHandled = stat(g_handledTarget, &info) == 0 ? static_cast<std::sig_atomic_t>(info.st_size) : -2;
}

TEST(FileSafety, AProcessHandlerRunsAfterTheWriteAndStaysInstalled) {
    TTemporaryFolder folder;
    const std::string target = folder.File("key.key");
    WriteFile(target, "old\r\n");
    const int status = WaitStatusOfChild([&] {
        g_handledTarget = target.c_str();
        struct sigaction handler {};
        handler.sa_handler = RecordTargetSize;
        sigemptyset(&handler.sa_mask);
        sigaction(SIGINT, &handler, nullptr);
        // The write is interrupted at once: the signal arrives before the temporary file is made.
        SetWriteHooksForTests(TWriteMethod::wmAutomatic, [] { raise(SIGINT); });
        WriteTextFileLine(target, "NEW KEY LINE");
        struct sigaction after {};
        sigaction(SIGINT, nullptr, &after);
        if (after.sa_handler != RecordTargetSize)
            return 3;
        return g_sizeWhenHandled == 14 ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the handler ran before the rename; 3: it was not restored";
    EXPECT_EQ(ReadFile(target), "NEW KEY LINE\r\n");
}

TEST(FileSafety, FileSizeLimitIsAnErrorNotASignal) {
    TTemporaryFolder folder;
    const std::string target = folder.File("keep.key");
    WriteFile(target, "old key line\r\n");
    const int status = WaitStatusOfChild([&] {
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{100 << 10, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string error = ErrorOf([&] { WriteTextFileLine(target, std::string(1 << 20, 'A')); });
        if (error.find(target) == std::string::npos || error.find("File too large") == std::string::npos)
            return 1;
        struct sigaction after {};
        sigaction(SIGXFSZ, nullptr, &after);
        return after.sa_handler == SIG_DFL ? 0 : 2;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong error text; 2: SIGXFSZ not restored";
    EXPECT_EQ(ReadFile(target), "old key line\r\n");
    EXPECT_EQ(Entries(folder.Path()), std::vector<std::string>{"keep.key"});
}

} // namespace
} // namespace zarn

namespace zarn {
namespace {

std::string Attribute(const std::string& file, const char* name) {
    char value[1024];
    const ssize_t size = getxattr(file.c_str(), name, value, sizeof value);
    return size < 0 ? std::string("<none>") : std::string(value, static_cast<std::size_t>(size));
}

// Replacing a file never widens who may read it: its access control list (with its deny entries)
// and its other extended attributes stay; a private key's mode is its whole access; and a new file
// gets what the kernel gives a new file in its folder, its default ACL included.
TEST(TextFiles, AccessStaysAsItWasOrAsTheFolderGivesIt) {
    test::TTemporaryFolder folder;
    const std::string file = folder.File("key.txt");
    WriteFile(file, "old\r\n");
    chmod(file.c_str(), 0640);
    ASSERT_EQ(
        test::Shell(folder.Path(),
                    "setfacl -m u:nobody:---,g::r--,o::r-- key.txt && setfattr -n user.zarn -v kept key.txt"),
        0)
        << "setfacl and setfattr (packages acl and attr) are needed";
    const std::string acl = Attribute(file, "system.posix_acl_access");
    ASSERT_NE(acl, "<none>");
    const mode_t mode = StatOf(file).st_mode & 07777;

    WriteTextFileLine(file, "new");
    EXPECT_EQ(ReadFile(file), "new\r\n");
    EXPECT_EQ(Attribute(file, "system.posix_acl_access"), acl) << "the ACL, deny entry and all";
    EXPECT_EQ(Attribute(file, "user.zarn"), "kept");
    EXPECT_EQ(StatOf(file).st_mode & 07777, mode);

    TWriteOptions privateKey;
    privateKey.Mode = 0600;
    privateKey.OwnedByWriter = true;
    WriteFileAtomically(file, "private", privateKey);
    EXPECT_EQ(Attribute(file, "system.posix_acl_access"), "<none>") << "no ACL widens a private key";
    EXPECT_EQ(StatOf(file).st_mode & 07777, 0600u);

    ASSERT_EQ(mkdir(folder.File("closed").c_str(), 0755), 0);
    ASSERT_EQ(test::Shell(folder.Path(), "setfacl -d -m u::rw-,g::---,o::--- closed"), 0);
    WriteTextFileLine(folder.File("closed/new.txt"), "new");
    EXPECT_EQ(StatOf(folder.File("closed/new.txt")).st_mode & 0077, 0u) << "the folder's default ACL";
    WriteTextFileLine(folder.File("open.txt"), "new");
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(StatOf(folder.File("open.txt")).st_mode & 0777, 0666u & ~mask) << "0666 less the umask";
}

} // namespace
} // namespace zarn
