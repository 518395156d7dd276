// The atomic writer's temporary file: the new content on its way to the target's name.
#pragma once

#include "platform/WriteHooksForTests.h"

#include <optional>
#include <string>
#include <sys/stat.h>

namespace zarn {

// An unnamed file (O_TMPFILE) where the file system allows and `method` is automatic, so that not
// even a killed process leaves it behind, else ".zarnkey-XXXXXX" in the target's folder. It is
// created with `createMode`, which the kernel narrows by the umask or the folder's default ACL, as
// for any new file. The destructor closes it and removes a name it still has. `reportedName` is
// the name in error texts.
class TTemporaryFile {
public:
    TTemporaryFile(const std::string& folder, const std::string& reportedName, TWriteMethod method,
                   mode_t createMode);
    ~TTemporaryFile();
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;

    void Write(const std::string& data);

    // Gives the file `existing`'s owner, group and permission bits (or `mode`), as far as the
    // process may: without the owner the set-user-ID bit goes, without the group the set-group-ID bit.
    void TakeOwnerAndModeOf(const struct stat& existing, std::optional<mode_t> mode);
    void SetMode(mode_t mode);

    // Gives the file the extended attributes of the file `existing` (an ACL among them, as
    // system.posix_acl_access, unless `withAcl` is false). One that cannot be set raises
    // EInOutError with its name and the reason: the replaced file's access is never lost silently.
    void CopyExtendedAttributesOf(const std::string& existing, bool withAcl);

    // Flushes the content to disk and renames the file over `target`.
    void Replace(const std::string& target);

    // Flushes the content to disk and gives the file the name `target`, which must not exist:
    // EFileExists when it does, also when it appeared during the write.
    void CreateAs(const std::string& target);

private:
    [[noreturn]] void RaiseCreateError(int error);
    std::string ProcPath() const;
    void Sync();
    void Close();
    void NameUnnamed();

    std::string m_reportedName;
    std::string m_prefix;
    TWriteMethod m_method;
    std::string m_path; // the temporary name; empty while the file has none
    int m_fd = -1;
};

} // namespace zarn
