// The INI format and the profile service over it: reading and writing INI
// profile files the way TIniFile expects (one read call for a value, a section
// listing or a key listing through a buffer of given size; one write call for
// writing a key, removing a key, removing a section or flushing).
//
// Nothing is cached: every read parses the file as it is on disk, and every
// write rewrites it through a temporary file in the same folder, flushed and
// renamed over the old one, so a crash leaves either the old or the new file.
//
// The layout read and written:
// - Lines end with LF, CRLF or CR. A write keeps the line ending the file
//   uses (its first one), CRLF for a new file; it changes only the line of
//   its key, adds one line, or adds one section at the end (after a blank
//   line). Everything else (comments, blank lines, order, spacing) is kept
//   byte for byte. A write that would change nothing leaves the file alone.
// - "[name]" opens a section: the name runs to the first "]" that is not the
//   second byte of a GBK character. A line whose first non-blank byte is ";"
//   is a comment. "key=value" holds a value; the first "=" separates them.
// - Names match without regard to ASCII letter case (GBK double-byte
//   characters compare exactly); spaces and tabs around section names, keys
//   and values are not part of them; values are otherwise byte for byte (no
//   quote removal). A UTF-8 byte-order mark at the start is ignored.
// - Damaged files: a NUL byte ends the text of its line; lines before the
//   first section and lines without "=" are ignored; of duplicate sections
//   the first one is the section (reads, key listings and writes use it, the
//   section listing names it once), and of duplicate keys in it the first
//   one wins. Names that are empty or that cannot come back through a
//   NUL-separated listing are left out of listings. A file larger than
//   kMaxProfileFileSize, or a path that is not a regular file, reads as
//   empty and refuses writes.
// - Removing a section removes every section of that name with its lines;
//   removing a key removes every line of that key in its section.
// - Writes refuse texts that would not read back as the same name or value:
//   CR, LF or NUL anywhere, "=" in a key, "]" in a section name, a key that
//   would read as a comment or a section line.
#pragma once

#include <cstddef>
#include <string>

namespace settings {

inline constexpr size_t kMaxProfileFileSize = 16 * 1024 * 1024;

// The service's read, with what a buffer of buffer_size bytes would receive:
// - section and key given: the value, or default_value when the file, the
//   section or the key is missing, cut to at most buffer_size - 1 bytes
//   (never between the two bytes of a GBK character);
// - section given, key null: the keys of the section;
// - section null: the section names of the file.
// A listing is the names, each ended by a NUL byte, in file order and as
// written, as many whole names as fit into the buffer with the final extra
// NUL; a name that does not fit, and every name after it, is left out. The
// returned size is the count the service reports (the final NUL not
// counted); 0 means no names.
std::string ReadProfileString(const std::string& file, const std::string* section,
                              const std::string* key, const std::string& default_value,
                              size_t buffer_size);

// The service's write; false when it could not be made (a missing folder, a
// file that cannot be replaced, a refused text):
// - section, key and value given: writes the key;
// - value null: removes the key;
// - key and value null: removes the section;
// - section null: a flush; every write is on disk already, so it only
//   reports success.
bool WriteProfileString(const std::string& file, const std::string* section,
                        const std::string* key, const std::string* value);

}  // namespace settings
