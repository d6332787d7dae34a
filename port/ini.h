// The INI format as the profile functions understand it: a parsed, indexed view of a
// file's bytes for reading, and edits that rewrite only the line or section they
// address and keep every other byte. Pure logic, no file access: port/posix/profile.cpp
// brings the files, locks and caching.
#ifndef CSLIB_PORT_INI_H
#define CSLIB_PORT_INI_H

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cslib::port::ini {

// ASCII case-insensitive hashing and equality for name look-ups.
struct NameHash {
  std::size_t operator()(std::string_view s) const noexcept;
};
struct NameEqual {
  bool operator()(std::string_view a, std::string_view b) const noexcept;
};

// Blanks and tabs removed from both ends.
std::string_view Trim(std::string_view s);

// One `key=value` line. Offsets are into the document's content.
struct Entry {
  std::string_view key;    // trimmed
  std::string_view value;  // trimmed, cut at a zero byte, one pair of quotes removed
  std::size_t line_begin;  // first byte of the line
  std::size_t line_end;    // one past the line's ending (or the end of the file)
  std::size_t raw_begin;   // the value's text as written, blanks excluded, quotes included
  std::size_t raw_end;
};

struct Section {
  std::string_view name;       // trimmed; empty for the lines before the first header
  std::size_t begin;           // first byte of the header line
  std::size_t end;             // first byte of the next header line, or the file's end
  std::size_t insert_at;       // one past the last non-blank line of the section
  std::vector<Entry> entries;  // in file order, duplicates included
  std::unordered_map<std::string_view, std::size_t, NameHash, NameEqual> index;  // first wins
};

// A file's content, parsed once. Look-ups cost the same whatever the file's size.
class Document {
 public:
  explicit Document(std::string content);
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  const std::string& content() const { return content_; }
  // The first section of that name (case-insensitive, blanks around ignored), or null.
  const Section* FindSection(std::string_view name) const;
  // The first entry of that key in the section, or null.
  const Entry* FindEntry(const Section& section, std::string_view key) const;
  // The first entry of that key in the first section of that name, or null.
  const Entry* FindEntry(std::string_view section, std::string_view key) const;
  const std::vector<Section>& sections() const { return sections_; }
  // The line ending new lines take: the first one the file uses, LF when it has none.
  std::string_view LineEnding() const { return eol_; }

 private:
  std::string content_;
  std::vector<Section> sections_;
  std::unordered_map<std::string_view, std::size_t, NameHash, NameEqual> index_;
  std::string_view eol_;
};

// Copies text into a caller's buffer the way the profile reads do: at most size - 1
// characters and a terminator; returns the number of characters copied (0 for size 0,
// nothing written then).
std::size_t CopyValue(std::string_view text, char* buffer, std::size_t size);

// Copies a list of names, each ended by a zero byte, plus one more zero byte. When the
// list (without its final zero) needs more than size - 2 bytes it is cut to its first
// size - 2 bytes, two zero bytes follow, and size - 2 is returned. Size below 2: 0.
std::size_t CopyList(const std::vector<std::string_view>& names, char* buffer, std::size_t size);

// The key names of the first section of that name (lines with `=`, comments excluded),
// and the named sections of the file, each in file order.
std::vector<std::string_view> KeyNames(const Document& doc, std::string_view section);
std::vector<std::string_view> SectionNames(const Document& doc);

// Whether a name or value can be written and read back without damaging the file: no
// line break anywhere; a section name neither empty (once trimmed) nor holding `]`; a
// key neither empty (once trimmed) nor holding `=` nor starting with `[` or `;`.
bool IsWritableSection(std::string_view section);
bool IsWritableKey(std::string_view key);
bool IsWritableValue(std::string_view value);

enum class Edit { kChanged, kUnchanged, kRefused };

// Sets key=value in the first matching section: an existing key's value is replaced in
// place (the key keeps its spelling), a new key goes after the section's last non-blank
// line, a new section goes at the end of the file. kChanged puts the new content in out.
Edit SetValue(const Document& doc, std::string_view section, std::string_view key,
              std::string_view value, std::string* out);
// As SetValue, but leaves a key that already holds a non-empty value as it is.
Edit AddValue(const Document& doc, std::string_view section, std::string_view key,
              std::string_view value, std::string* out);
// Removes the first matching key line of the first matching section.
Edit DeleteKey(const Document& doc, std::string_view section, std::string_view key,
               std::string* out);
// Removes the first matching section: its header and every line up to the next header.
Edit DeleteSection(const Document& doc, std::string_view section, std::string* out);

}  // namespace cslib::port::ini

#endif  // CSLIB_PORT_INI_H
