#include "cli/KeyInventory.h"

#include "cli/Command.h"
#include "cli/RecordFiles.h"
#include "keyformats/KeyFormats.h"
#include "keyrecord/KeyExpiry.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>

namespace zarn {

namespace {

namespace fs = std::filesystem;

// What became of one file.
struct TEntry {
    std::string File;
    bool Unreadable = false; // Message then holds the error
    std::int32_t Status = 0;
    std::string Message;
    std::string ExpDate;                       // the record's text
    std::string Owner, Index, ExpiresOn, Bits; // "-" where the record has none
    std::string RecordHash, Key;               // for the collisions, of records with status 0
    nlohmann::ordered_json Report;             // the show --json object, for --json only
    std::vector<std::string> Marks;
    bool Expiring = false, Conflicting = false;
};

// A file to check, or a folder that could not be read (with the reason).
struct TPath {
    std::string Name;
    std::string FolderError;
};

// The files named by `paths`, folders read in name order, sub-folders only when `recursive`. A
// folder that cannot be read is kept with its reason; a sub-folder left out is noted on `err`.
class TFileCollector {
public:
    TFileCollector(bool recursive, std::ostream& err) : m_recursive(recursive), m_err(err) {}

    void Add(const std::string& path, bool named) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (error || !fs::is_directory(status)) {
            Paths.push_back({path, {}}); // the import reports what is wrong with it
            return;
        }
        if (!named && (!m_recursive || fs::is_symlink(fs::symlink_status(path, error)))) {
            PrintError(m_err,
                       "note: " + Quoted(path) + " is a folder and was not read" +
                           (m_recursive ? " (a link to a folder is not followed)" : "; add --recursive"));
            return;
        }
        AddFolder(path);
    }

    std::vector<TPath> Paths;

private:
    void AddFolder(const std::string& folder) {
        std::error_code error;
        std::vector<std::string> names;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            names.push_back(it->path().filename().string());
        if (error) {
            Paths.push_back({folder, error.message()});
            return;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            Add((fs::path(folder) / name).string(), false);
    }

    bool m_recursive;
    std::ostream& m_err;
};

std::string OrDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

TEntry Import(const std::string& file, bool json) {
    TEntry entry;
    entry.File = file;
    TZarnPublicKey key;
    const TImportResult result = ImportFile(file, key);
    entry.Status = result.Status;
    entry.Message = MessageToUtf8(result.Message);
    entry.ExpDate = key.GetPublicKeyExpDate();
    const bool hasOwner = !key.GetPublicKeyOwnerId().empty();
    entry.Owner = OrDash(MessageToUtf8(key.GetPublicKeyOwnerId()));
    entry.Index = hasOwner ? std::to_string(key.GetPublicKeyIndex()) : "-";
    entry.ExpiresOn = entry.ExpDate.empty() ? "-" : KeyExpiresOnText(entry.ExpDate);
    const std::optional<TRsaPublicKey> rsa = RecordRsaKey(key);
    entry.Bits = rsa ? std::to_string(RsaKeyBits(*rsa)) : "-";
    if (result.Status == 0) {
        entry.RecordHash = key.GetHashResult();
        entry.Key = key.GetPublicKeyModulus() + "/" + key.GetPublicKeyExponent();
    }
    // The report's fingerprint costs more than the rest of the import: only JSON needs it.
    if (json)
        entry.Report = RecordReport(key, result);
    return entry;
}

void MarkExpiry(TEntry& entry, int withinDays, std::chrono::year_month_day today) {
    const std::optional<std::chrono::year_month_day> expiresOn = KeyExpiresOn(entry.ExpDate);
    if (entry.Status != 0 || !expiresOn)
        return;
    const int days = DaysUntilExpiry(*expiresOn, today);
    if (days > withinDays)
        return;
    entry.Expiring = true;
    entry.Marks.push_back(days < 0    ? "expired"
                          : days == 0 ? "expires today"
                          : days == 1 ? "expires in 1 day"
                                      : "expires in " + std::to_string(days) + " days");
}

// " and N more" for N > 0.
std::string More(std::size_t count) {
    return count == 0 ? "" : " and " + std::to_string(count) + " more";
}

// Marks the records with status 0 that share an owner identifier and index with another, naming
// the first other file of each kind, so that a folder of many copies stays linear.
void MarkCollisions(std::vector<TEntry>& entries) {
    std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> holders; // by owner and index
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (!entries[i].Unreadable && entries[i].Status == 0)
            holders[{entries[i].Owner, entries[i].Index}].push_back(i);
    for (const auto& [ownerAndIndex, members] : holders) {
        std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> records; // by hash and key
        for (const std::size_t i : members)
            records[{entries[i].RecordHash, entries[i].Key}].push_back(i);
        for (const auto& group : records) {
            const std::pair<std::string, std::string>& record = group.first;
            const std::vector<std::size_t>& same = group.second;
            const auto firstOther = std::find_if(members.begin(), members.end(), [&](std::size_t m) {
                return entries[m].RecordHash != record.first || entries[m].Key != record.second;
            });
            const std::size_t conflicts = members.size() - same.size();
            for (const std::size_t i : same) {
                TEntry& entry = entries[i];
                if (same.size() > 1) {
                    const std::size_t first = same.front() != i ? same.front() : same[1];
                    entry.Marks.push_back("duplicate of " + MessageToUtf8(entries[first].File) +
                                          More(same.size() - 2));
                }
                if (conflicts > 0) {
                    entry.Conflicting = true;
                    entry.Marks.push_back("conflicts with " + MessageToUtf8(entries[*firstOther].File) +
                                          (entries[*firstOther].Key == entry.Key ? " (same key, other fields)"
                                                                                 : " (another key)") +
                                          More(conflicts - 1));
                }
            }
        }
    }
}

int ExitStatusOf(const std::vector<TEntry>& entries) {
    int exitStatus = kExitSuccess;
    for (const TEntry& entry : entries) {
        if (entry.Unreadable)
            return kExitRaisedError;
        if (entry.Status != 0 || entry.Conflicting)
            exitStatus = kExitStatusNotZero;
        else if (entry.Expiring && exitStatus == kExitSuccess)
            exitStatus = kExitKeysExpiring;
    }
    return exitStatus;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

void PrintTable(const std::vector<TEntry>& entries, std::ostream& out) {
    std::vector<std::vector<std::string>> rows = {
        {"FILE", "OWNER", "INDEX", "EXPIRES", "BITS", "STATUS", "FINDINGS", "MESSAGE"}};
    for (const TEntry& entry : entries)
        rows.push_back({MessageToUtf8(entry.File), entry.Owner, entry.Index, entry.ExpiresOn, entry.Bits,
                        entry.Unreadable ? "error" : std::to_string(entry.Status),
                        entry.Marks.empty() ? "-" : Joined(entry.Marks, "; "), entry.Message});
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c + 1 < row.size(); ++c)
            line += row[c] + std::string(widths[c] - row[c].size() + 2, ' ');
        out << line << row.back() << "\n";
    }
}

void PrintJson(const std::vector<TEntry>& entries, std::ostream& out) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const TEntry& entry : entries) {
        nlohmann::ordered_json object = entry.Report;
        if (entry.Unreadable) {
            object["FileName"] = MessageToUtf8(entry.File);
            object["error"] = entry.Message;
        }
        object["Marks"] = entry.Marks;
        list.push_back(std::move(object));
    }
    out << list.dump(2, ' ', true) << "\n";
}

} // namespace

int CheckKeyInventory(const std::vector<std::string>& paths, const TInventoryOptions& options,
                      std::chrono::year_month_day today, std::ostream& out, std::ostream& err) {
    TFileCollector collector(options.Recursive, err);
    for (const std::string& path : paths)
        collector.Add(path, true);
    std::vector<TEntry> entries;
    entries.reserve(collector.Paths.size());
    for (const TPath& path : collector.Paths) {
        const std::string& file = path.Name;
        TEntry entry;
        try {
            if (!path.FolderError.empty())
                throw EInOutError("Cannot read folder \"" + file + "\": " + path.FolderError);
            entry = Import(file, options.Json);
            MarkExpiry(entry, options.ExpiresWithinDays, today);
        } catch (const std::exception& error) {
            entry.File = file;
            entry.Unreadable = true;
            entry.Message = ErrorText(error);
            entry.Owner = entry.Index = entry.ExpiresOn = entry.Bits = "-";
            PrintError(err, entry.Message);
        }
        entries.push_back(std::move(entry));
    }
    MarkCollisions(entries);
    if (options.Json)
        PrintJson(entries, out);
    else
        PrintTable(entries, out);
    return ExitStatusOf(entries);
}

} // namespace zarn
