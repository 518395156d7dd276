// The atomic writer's hooks, for tests only: only test programs have this folder on their include
// path.
#pragma once

#include <functional>

namespace zarn {

// How the writer makes its temporary file and gives it the final name. Automatic takes an unnamed
// file (O_TMPFILE) where the file system has it, else a named one, and for a write that may not
// replace the first of RENAME_NOREPLACE, a hard link and an exclusive create that the file system
// supports. The others force a named temporary file and one of those final steps.
enum class TWriteMethod { wmAutomatic, wmRenameNoReplace, wmLinkThenUnlink, wmExclusiveCreate };

// For tests: the method the writer uses, and an action it runs right before its final step (after
// its last check of the target), to stand for another process acting at the worst moment.
void SetWriteHooksForTests(TWriteMethod method, std::function<void()> beforeFinalStep = {});

} // namespace zarn
