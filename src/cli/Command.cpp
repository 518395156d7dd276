#include "cli/Command.h"

#include "platform/Conversions.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace zarn {

int ExitFor(std::int32_t status) {
    return status == 0 ? kExitSuccess : kExitStatusNotZero;
}

std::string ErrorText(const std::exception& error) {
    const auto* ours = dynamic_cast<const Exception*>(&error);
    return MessageToUtf8(ours != nullptr ? ours->Message() : std::string(error.what()));
}

void PrintError(std::ostream& err, const std::string& text) {
    err << "zarnkey: " << text << "\n";
}

int ReportFileExists(std::ostream& err, const std::string& fileName, const std::string& circumstance) {
    PrintError(err, MessageToUtf8(fileName) + " exists; add --force to replace it" +
                        (circumstance.empty() ? "" : " (" + circumstance + ")"));
    return kExitStatusNotZero;
}

void PrintNameValueLines(const nlohmann::ordered_json& object, std::ostream& out,
                         std::initializer_list<const char*> skipped,
                         std::initializer_list<std::pair<const char*, const char*>> labels) {
    for (const auto& [name, value] : object.items()) {
        if (std::find(skipped.begin(), skipped.end(), name) != skipped.end())
            continue;
        const auto label =
            std::find_if(labels.begin(), labels.end(), [&](const auto& l) { return name == l.first; });
        out << (label != labels.end() ? label->second : name) << ": "
            << (value.is_string() ? value.get<std::string>() : value.dump()) << "\n";
    }
}

CLI::Validator IntegerValidator(std::int32_t min, std::int32_t max, const std::string& what,
                                const std::string& name) {
    return CLI::Validator(
        [=](std::string& text) {
            std::int32_t value = 0;
            return TryStrToInt(text, value) && value >= min && value <= max ? std::string()
                                                                            : "'" + text + "' is not " + what;
        },
        name);
}

void SetExitStatuses(CLI::App& command, const std::vector<TExitStatus>& statuses,
                     const std::string& preface) {
    constexpr std::size_t kColumns = 100;
    std::string text = "Exit status:";
    for (std::size_t i = 0; i < statuses.size(); ++i)
        text += " " + std::to_string(statuses[i].Code) + " " + statuses[i].Meaning +
                (i + 1 < statuses.size() ? "," : ".");
    std::ostringstream wrapped;
    if (!preface.empty())
        wrapped << preface << "\n";
    std::istringstream words(text);
    std::string word, line;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > kColumns) {
            wrapped << line << "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    wrapped << line;
    command.footer(wrapped.str());
}

} // namespace zarn
