#pragma once
// The INI engine of the settings files. Stateless: every call reads the whole file; a change
// rewrites it through a temporary file in the same folder renamed over the old one, so a
// failed write never leaves a truncated file, and a change that leaves every line as it was
// writes nothing. Byte-transparent; writes CR LF, reads CR, CR LF and LF line ends.
//
// Encodings: each line that is not valid UTF-8 is read as CP932 (a file brought from Windows,
// or one CP932 line in a UTF-8 file). A file whose only non-ASCII lines are CP932 is written
// back in CP932 while every character fits; otherwise a rewrite of a file that held CP932
// lines is UTF-8, and the original bytes are first kept as "<file>.bak" (unless that exists).
//
// A read looks for the key in the first section of that name only, up to the header of
// another section.

#include <string>
#include <vector>

namespace oxlip {

// Permission bits of a file that a write creates (the process umask still applies). A file
// that exists keeps its own bits, except that a private mode (one without any bit for the
// group or others) also takes those bits from an existing file.
constexpr unsigned kIniDefaultFileMode = 0666;
constexpr unsigned kIniPrivateFileMode = 0600;

// 0 when the line begins with the prefix; otherwise 1 when the prefix sorts after the head of
// the line (its first prefix-length characters), -1 when before (ordinal comparison).
int ComparePrefix(const std::string& line, const std::string& prefix);

std::string ReadIniValue(const std::string& path, const std::string& section,
                         const std::string& key, const std::string& defaultValue);

// True when the file was written; false when it could not be (the old file stays whole).
bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value);
bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value, unsigned newFileMode);

// True when the file existed and was rewritten without the section; false when it is missing
// (nothing is created) or could not be rewritten (the old file stays whole).
bool DeleteIniSection(const std::string& path, const std::string& section);

// Section names in file order, duplicates kept (lines "[...]"), as UTF-8.
std::vector<std::string> ListIniSections(const std::string& path);

// One settings file held in memory, for callers that read or change several keys at once:
// a sequence of changes followed by one save gives the same file as the same sequence of
// WriteIniValue/DeleteIniSection calls, but the file on disk only ever holds the content
// before or after the whole sequence.
class IniDocument {
public:
    enum class LoadResult { Missing, Loaded, Failed };

    IniDocument() = default;

    // Reads the file; Failed (and an empty, missing document) when it exists but cannot be
    // read.
    LoadResult load(const std::string& path);

    bool exists() const { return exists_; }
    const std::vector<std::string>& lines() const { return lines_; }

    std::string read(const std::string& section, const std::string& key,
                     const std::string& defaultValue) const;
    void write(const std::string& section, const std::string& key, const std::string& value);
    // False when the document does not exist (nothing changes).
    bool deleteSection(const std::string& section);
    std::vector<std::string> sections() const;

    // The whole file: every line followed by CR LF.
    std::string text() const;

    // Replaces the file atomically; a missing document writes nothing and returns true, and
    // so does one whose lines are those it was loaded with (a private mode still takes the
    // group's and others' bits from the file then).
    bool save(const std::string& path, unsigned newFileMode = kIniDefaultFileMode) const;

private:
    enum class Encoding { Utf8, Cp932, Mixed };

    std::vector<std::string> linesForEdit() const;
    // The bytes to write, in the encoding the file came in when that is possible.
    std::string encoded(bool* keepBackup) const;

    bool exists_ = false;
    std::vector<std::string> lines_;
    // As loaded: the bytes, the lines and how they were encoded.
    std::string loadedBytes_;
    std::vector<std::string> loadedLines_;
    Encoding encoding_ = Encoding::Utf8;
};

// Writes bytes to path through a temporary file in the same folder, flushed to disk and
// renamed over the old file, whose permission bits it keeps (newFileMode for a new file;
// see kIniPrivateFileMode). False, with the old file untouched and no temporary file left,
// when anything fails.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                           unsigned newFileMode = kIniDefaultFileMode);

} // namespace oxlip
