// The inventory of key files behind `zarnkey check`: files and folders of key files imported one by
// one, each with its status, owner, index, end of validity and key size, and the findings a
// custodian acts on: keys expired or expiring within a window, and records that collide.
//
// Findings, per file that imports with status 0:
//   - "expired" once the last valid day (keyrecord/KeyExpiry.h) is before today; "expires today",
//     "expires in 1 day" or "expires in N days" when it lies within `ExpiresWithinDays` of today.
//   - "conflicts with F": another file F holds a different record (another key, or the same key with
//     other fields) under the same owner identifier and key index.
//   - "duplicate of F": file F holds the same record.
// Exit status: 0 when every file imports with status 0 and there is no finding but duplicates;
// 1 when any file has another status or records conflict; 3 when a file or folder cannot be read;
// 4 when the only findings are keys expired or within the window. The highest of 3, 1 and 4 wins,
// in that order.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

namespace zarn {

constexpr int kExitKeysExpiring = 4;

struct TInventoryOptions {
    bool Recursive = false;    // also read the sub-folders of the folders given
    int ExpiresWithinDays = 0; // mark keys whose last valid day is at most this many days ahead
    bool Json = false;         // a JSON list instead of the table
};

// Checks `paths` (files, and folders whose regular files are read in name order) as of `today`.
// Prints the table or the JSON list on `out`, errors and notes on `err`; returns the exit status.
int CheckKeyInventory(const std::vector<std::string>& paths, const TInventoryOptions& options,
                      std::chrono::year_month_day today, std::ostream& out, std::ostream& err);

} // namespace zarn
