// Profile (INI) files as the library uses them: read a value, a key list or a section
// list, write or delete a value, delete a section, flush. Every profile call of the
// library goes through here. Reads see the file as the last completed write left it;
// each write is a read-modify-write under an exclusive lock between processes and
// threads, and replaces the file atomically.
//
// `file` names the INI file: null for WIN.INI in the Windows directory, a name without
// any '/' or '\\' for that file in the Windows directory, else a path used as given.
// Section and key names match without regard to ASCII case, blanks around them ignored.
#ifndef CSLIB_PORT_PROFILE_H
#define CSLIB_PORT_PROFILE_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cslib::port {

namespace ini {
class Document;
}

// One file as it is at construction, checked once, for several look-ups in a row.
class ProfileView {
 public:
  explicit ProfileView(const char* file);
  // As ProfileReadValue, on the content the view holds.
  std::size_t ReadValue(std::string_view section, std::string_view key, const char* default_value,
                        char* buffer, std::size_t size) const;
  // The whole value ReadValue would give with room enough, valid while the view lives;
  // empty when the file, section or key is missing.
  std::string_view Value(std::string_view section, std::string_view key) const;
  // The key names of section and the named sections, in file order, whole, valid while
  // the view lives; empty when the file or section is missing.
  std::vector<std::string_view> KeyNames(std::string_view section) const;
  std::vector<std::string_view> SectionNames() const;

 private:
  std::shared_ptr<const ini::Document> doc_;
};

// The path `file` stands for.
std::string ProfilePath(const char* file);

// The value of key in section, or the default (null: empty; trailing spaces dropped)
// when the file, section or key is missing. Copies at most size - 1 characters and a
// terminator; returns the number of characters copied (size 0: nothing, 0).
std::size_t ProfileReadValue(const char* file, std::string_view section, std::string_view key,
                             const char* default_value, char* buffer, std::size_t size);

// The key names of section, each ended by a zero byte, the list by one more; a list that
// does not fit is cut as Windows cuts it (size - 2 returned). A missing or empty section
// gives the default, as ProfileReadValue does.
std::size_t ProfileReadKeys(const char* file, std::string_view section, const char* default_value,
                            char* buffer, std::size_t size);

// The section names of the file, as a list like ProfileReadKeys gives.
std::size_t ProfileReadSections(const char* file, char* buffer, std::size_t size);

// Writes key=value into section, creating the file and its directory if need be. False,
// nothing written, when a name or the value would damage the file (see
// IsProfileEntryWritable) or the file cannot be written.
bool ProfileWriteValue(const char* file, std::string_view section, std::string_view key,
                       std::string_view value);

// As ProfileWriteValue, but a key that already holds a non-empty value keeps it (true):
// of two processes adding the same key at once, the first one wins.
bool ProfileAddValue(const char* file, std::string_view section, std::string_view key,
                     std::string_view value);

// Removes one key line, or a section with all its lines. Removing what is not there
// succeeds and writes nothing; a missing file is not created.
bool ProfileDeleteKey(const char* file, std::string_view section, std::string_view key);
bool ProfileDeleteSection(const char* file, std::string_view section);

// Drops the process's cached copy of the file. Nothing is written: every call already
// sees the file's current content, so this only gives back memory.
void ProfileFlush(const char* file);

// Whether ProfileWriteValue would accept these names and value: no line break in any,
// a section name not empty and without ']', a key not empty, without '=', not starting
// with '[' or ';'.
bool IsProfileEntryWritable(std::string_view section, std::string_view key, std::string_view value);

// The Windows profile calls' shape over the functions above, for callers that pass
// their nulls through: GetPrivateProfileString (null section: the section list, null
// key: the key list) and WritePrivateProfileString (null key: delete the section,
// null value: delete the key, all null: flush). `file` as above.
std::size_t ProfileGetString(const char* section, const char* key, const char* default_value,
                             char* buffer, std::size_t size, const char* file);
bool ProfileWriteString(const char* section, const char* key, const char* value, const char* file);

}  // namespace cslib::port

#endif  // CSLIB_PORT_PROFILE_H
