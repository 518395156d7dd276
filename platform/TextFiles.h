// Files as the key-file operations use them: the folder part of a path, the existence test, a
// line reader with the key file's line rules, and an atomic one-line writer.
//
// Line rules of the reader: a line ends at a line feed (LF); every carriage return (CR) is dropped,
// so CR LF ends a line and a lone CR neither ends the line nor stays in it. A character 26 (Ctrl-Z)
// ends the line it stands in (the rest up to the next LF is skipped); one at the start of a line
// ends the file. Lines may have any length; bytes 128..255 pass unchanged. Lines are read in binary
// mode from a buffer, so a file of any size is scanned in bounded memory when a filter is used.
//
// Every failure raises EInOutError with the file name and the operating system's reason.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace zarn {

// The folder part of `fileName` without its final separator ("" when there is none; "/" for a
// file in the root folder).
std::string ExtractFileDir(const std::string& fileName);

// True when `fileName` names an existing entry that is not a folder.
bool FileExists(const std::string& fileName);

// True when `folderName` names an existing folder.
bool DirectoryExists(const std::string& folderName);

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
    // Opens `fileName` for reading; raises EInOutError when that fails or it is a folder.
    explicit TTextFileReader(const std::string& fileName);
    ~TTextFileReader();
    TTextFileReader(const TTextFileReader&) = delete;
    TTextFileReader& operator=(const TTextFileReader&) = delete;

    // True when no line is left: the end of the data, or a Ctrl-Z at the start of the next line.
    bool Eof();

    // Reads the next line (without its line end) into `line`. Without a filter every byte except
    // CR is stored; with one, bytes are stored, dropped or rejected by their class.
    void ReadLine(std::string& line, const TLineFilter* filter = nullptr);

private:
    bool Fill();
    void SkipRestOfLine();

    std::string m_fileName;
    int m_fd = -1;
    std::array<unsigned char, 65536> m_buffer{};
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_atEnd = false;
};

// Replaces (or creates) `fileName` with the single line `line` followed by CR LF. The text goes to
// a temporary file in the same folder, which is flushed to disk and then renamed over the target,
// so a failed write raises EInOutError and leaves any previous file of that name as it was. An
// existing file keeps its permission bits; a symbolic link is followed to the file it names.
void WriteTextFileLine(const std::string& fileName, const std::string& line);

} // namespace zarn
