#include "cli/Command.h"

#include "platform/Conversions.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <cctype>
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

std::string Quoted(const std::string& fileName) {
    return "\"" + MessageToUtf8(fileName) + "\"";
}

std::string MessageText(const std::string& text) {
    std::string message = text;
    const std::size_t wordEnd = std::min(message.find_first_of(" :;,'\""), message.size());
    const bool capitalOnlyFirst =
        wordEnd > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
        std::none_of(message.begin() + 1, message.begin() + static_cast<std::ptrdiff_t>(wordEnd), [](char c) {
            return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c));
        });
    if (capitalOnlyFirst)
        message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    return "zarnkey: " + message;
}

void PrintError(std::ostream& err, const std::string& text) {
    err << MessageText(text) << "\n";
}

int ReportFileExists(std::ostream& err, const std::string& fileName, const std::string& circumstance) {
    PrintError(err, Quoted(fileName) + " exists; add --force to replace it" +
                        (circumstance.empty() ? "" : " (" + circumstance + ")"));
    return kExitStatusNotZero;
}

void PrintNameValueLines(const nlohmann::ordered_json& object, std::ostream& out,
                         std::initializer_list<const char*> skipped,
                         std::initializer_list<std::pair<const char*, const char*>> labels) {
    for (const auto& item : object.items()) {
        const std::string& name = item.key();
        const nlohmann::ordered_json& value = item.value();
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

CLI::Validator NonEmptyFileName() {
    return CLI::Validator(
        [](std::string& text) {
            return text.empty() ? std::string("the file name is empty") : std::string();
        },
        "");
}

namespace {

// `text` as lines of at most `columns`, broken at spaces.
std::string Wrapped(const std::string& text, std::size_t columns) {
    std::istringstream words(text);
    std::string wrapped, word, line;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > columns) {
            wrapped += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return wrapped + line;
}

} // namespace

void SetExitStatuses(CLI::App& command, const std::vector<TExitStatus>& statuses,
                     const std::string& preface) {
    constexpr std::size_t kColumns = 80;
    std::string text = "Exit status:";
    for (std::size_t i = 0; i < statuses.size(); ++i)
        text += " " + std::to_string(statuses[i].Code) + " " + statuses[i].Meaning +
                (i + 1 < statuses.size() ? "," : ".");
    command.footer((preface.empty() ? "" : Wrapped(preface, kColumns) + "\n") + Wrapped(text, kColumns));
}

} // namespace zarn
