// The error classes that the logic raises, and the assertion that is never compiled out.
//
// Ordinary failures of the key-file operations are a status and a message, never one of these.
// These are for the platform's own failures (file access, text-to-integer conversion), misuse of
// an object, and broken preconditions. Every text is what the user sees in the error box.
// Texts are 8-bit: the German platform texts carry their umlauts as Latin-1 bytes.
#pragma once

#include <stdexcept>
#include <string>

namespace zarn {

// The general error class; `Message` is the text shown to the user, whole (what() ends at the first
// NUL byte a text may hold).
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message), m_message(message) {}
    const std::string& Message() const { return m_message; }

private:
    std::string m_message;
};

// A failed assertion: "<message> (<source name>, line <n>)".
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
};

// A text that the text-to-integer conversion rejects.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be opened, read, created or written; the text names the file and the reason.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// Integer division by zero ("Division durch Null").
class EDivByZero : public Exception {
public:
    EDivByZero();
};

// Raises EAssertionFailed with "<message> (<sourceName>, line <line>)".
[[noreturn]] void AssertionFailed(const std::string& message, const char* sourceName, int line);

} // namespace zarn

// Checks `condition` in every build; on failure raises EAssertionFailed naming the source and line.
#define ZARN_ASSERT(condition, message, sourceName)                                                          \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            ::zarn::AssertionFailed((message), (sourceName), __LINE__);                                      \
    } while (false)
