#include "platform/TextFileReader.h"

#include <cstring>

namespace zarn {

namespace {

constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kCtrlZ = 26;

} // namespace

TTextFileReader::TTextFileReader(const std::string& fileName) : m_file(fileName) {}

TTextFileReader::~TTextFileReader() = default;

bool TTextFileReader::Fill() {
    if (m_pos < m_end)
        return true;
    if (m_atEnd)
        return false;
    m_pos = 0;
    m_end = m_file.Read(m_buffer.data(), m_buffer.size() - 1);
    m_atEnd = m_end == 0;
    return !m_atEnd;
}

bool TTextFileReader::Eof() {
    return !Fill() || m_buffer[m_pos] == kCtrlZ;
}

void TTextFileReader::SkipRestOfLine() {
    while (Fill()) {
        const void* found = std::memchr(m_buffer.data() + m_pos, kLineFeed, m_end - m_pos);
        if (found != nullptr) {
            m_pos = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - m_buffer.data()) + 1;
            return;
        }
        m_pos = m_end;
    }
}

void TTextFileReader::ReadLine(std::string& line, const TLineFilter* filter) {
    line.clear();
    std::size_t kept = 0;
    while (Fill()) {
        const unsigned char c = m_buffer[m_pos++];
        if (c == kLineFeed)
            return;
        if (c == kCarriageReturn)
            continue;
        if (c == kCtrlZ) {
            SkipRestOfLine();
            return;
        }
        if (filter == nullptr) {
            line.push_back(static_cast<char>(c));
            continue;
        }
        switch (filter->Classes[c]) {
        case TLineFilter::lfKeep:
            if (kept++ < filter->KeepLimit)
                line.push_back(static_cast<char>(c));
            break;
        case TLineFilter::lfDrop:
            break;
        case TLineFilter::lfReject:
            line.push_back(static_cast<char>(c));
            SkipRestOfLine();
            return;
        }
    }
}

bool TTextFileReader::FindLine(std::string& line, const TLineFilter& filter) {
    // One action per byte value: the filter's classes, with the line rules' bytes on top. Keep and
    // drop come first, so that one comparison tells the bytes that change nothing but the count.
    enum TAction : unsigned char { aKeep, aDrop, aReject, aLineFeed, aCtrlZ };
    std::array<unsigned char, 256> actions{};
    for (std::size_t c = 0; c < 256; ++c)
        actions[c] = filter.Classes[c] == TLineFilter::lfKeep   ? aKeep
                     : filter.Classes[c] == TLineFilter::lfDrop ? aDrop
                                                                : aReject;
    actions[kLineFeed] = aLineFeed;
    actions[kCarriageReturn] = aDrop;
    actions[kCtrlZ] = aCtrlZ;

    // The scan stores nothing: a line's kept bytes are copied only once the line is accepted, or
    // when the buffer is refilled in the middle of a line that may still be accepted.
    const auto store = [&](const unsigned char* from, const unsigned char* to) {
        for (; from < to && line.size() < filter.KeepLimit; ++from)
            if (actions[*from] == aKeep)
                line.push_back(static_cast<char>(*from));
    };
    line.clear();
    std::size_t kept = 0;     // kept bytes of the current line so far
    bool lineCarried = false; // the current line began in an earlier buffer
    while (Fill()) {
        unsigned char* const begin = m_buffer.data();
        unsigned char* const end = begin + m_end;
        *end = kLineFeed; // a sentinel: Fill leaves the last byte of the buffer free for it
        const unsigned char* p = begin + m_pos;
        const unsigned char* lineFrom = p;
        bool lineEndsLater = false; // the scan left the buffer through SkipRestOfLine
        for (;;) {
            unsigned char action;
            while ((action = actions[*p]) <= aDrop) {
                kept += action == aKeep;
                ++p;
            }
            if (action == aLineFeed) {
                if (p == end)
                    break;
                if (kept > 0) {
                    store(lineFrom, p);
                    m_pos = static_cast<std::size_t>(p + 1 - begin);
                    return true;
                }
                lineFrom = ++p;
                lineCarried = false;
                continue;
            }
            if (action == aCtrlZ) {
                if (p == lineFrom && !lineCarried) { // at the start of a line: the end of the file
                    m_pos = static_cast<std::size_t>(p - begin);
                    return false;
                }
                if (kept > 0)
                    store(lineFrom, p);
                m_pos = static_cast<std::size_t>(p + 1 - begin);
                SkipRestOfLine();
                if (kept > 0)
                    return true;
                lineEndsLater = true;
                break;
            }
            // A rejected byte: the line is no key line, and the rest of it is skipped unread.
            line.clear();
            kept = 0;
            lineCarried = false;
            const auto* lineFeed = static_cast<const unsigned char*>(
                std::memchr(p + 1, kLineFeed, static_cast<std::size_t>(end - p)));
            if (lineFeed != end) {
                lineFrom = p = lineFeed + 1;
                continue;
            }
            m_pos = m_end;
            SkipRestOfLine();
            lineEndsLater = true;
            break;
        }
        if (lineEndsLater) {
            lineCarried = false;
            continue;
        }
        if (kept > 0)
            store(lineFrom, end);
        lineCarried = lineCarried || lineFrom < end;
        m_pos = m_end;
    }
    // The last line, without a line feed.
    if (kept > 0)
        return true;
    line.clear();
    return false;
}

} // namespace zarn
