// The key file's line reader.
//
// Line rules: a line ends at a line feed (LF); every carriage return (CR) is dropped, so CR LF ends
// a line and a lone CR neither ends the line nor stays in it. A character 26 (Ctrl-Z) ends the line
// it stands in (the rest up to the next LF is skipped); one at the start of a line ends the file.
// Lines may have any length; bytes 128..255 pass unchanged. Lines are read in binary mode from a
// buffer, so a file of any size is scanned in bounded memory when a filter is used.
//
// Only regular files are read (platform/Files.h); every failure raises EInOutError with the file
// name and the operating system's reason.
#pragma once

#include "platform/Files.h"

#include <array>
#include <cstddef>
#include <string>

namespace zarn {

// What the reader does with each byte of a line (CR, LF and Ctrl-Z keep their line rules).
struct TLineFilter {
    enum TByteClass : unsigned char {
        lfKeep,   // stored in the line (up to KeepLimit such bytes; later ones are checked only)
        lfDrop,   // read over, never stored
        lfReject, // stored as the line's last byte; the rest of the line is skipped unstored
    };
    std::array<TByteClass, 256> Classes{};
    std::size_t KeepLimit = 0;
};

class TTextFileReader {
public:
    // Opens `fileName` for reading. Raises EInOutError when that fails, and when the name (after
    // symbolic links) is not a regular file: a folder, a FIFO, a device or a socket is refused
    // before it is opened, so nothing blocks or reads for ever.
    explicit TTextFileReader(const std::string& fileName);
    ~TTextFileReader();
    TTextFileReader(const TTextFileReader&) = delete;
    TTextFileReader& operator=(const TTextFileReader&) = delete;

    // True when no line is left: the end of the data, or a Ctrl-Z at the start of the next line.
    bool Eof();

    // Reads the next line (without its line end) into `line`. Without a filter every byte except
    // CR is stored; with one, bytes are stored, dropped or rejected by their class.
    void ReadLine(std::string& line, const TLineFilter* filter = nullptr);

    // Reads on to the first line that holds at least one kept byte and no rejected byte, and stores
    // that line's kept bytes (at most KeepLimit) in `line`; the reader then stands after it. Returns
    // false, with `line` empty, when no such line is left. Lines passed over cost one table look-up
    // per byte and nothing per line, and the rest of a rejected line is skipped unread.
    bool FindLine(std::string& line, const TLineFilter& filter);

private:
    bool Fill();
    void SkipRestOfLine();

    TReadableFile m_file;
    std::array<unsigned char, 65536> m_buffer{}; // filled up to its last byte, which FindLine uses
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_atEnd = false;
};

} // namespace zarn
