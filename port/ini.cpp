// Parsing and editing of INI text with the Windows profile rules. The parser records
// byte offsets so an edit can splice one line or section and leave the rest of the
// file, line endings included, exactly as it was.
#include "port/ini.h"

#include <cstring>

namespace cslib::port::ini {
namespace {

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
inline bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}
inline unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Splices text in at `at`, which is the start of a line or the end of the content. At
// the end of a file whose last line has no ending, that line gets one first.
std::string InsertLines(const Document& doc, std::size_t at, std::string_view lines) {
  const std::string& c = doc.content();
  std::string out;
  out.reserve(c.size() + lines.size() + 2);
  out.append(c, 0, at);
  if (at == c.size() && !c.empty() && !IsLineBreak(c.back())) out.append(doc.LineEnding());
  out.append(lines);
  out.append(c, at, std::string::npos);
  return out;
}

}  // namespace

std::size_t NameHash::operator()(std::string_view s) const noexcept {
  std::size_t h = 1469598103934665603ull;
  for (char c : s) h = (h ^ Fold(c)) * 1099511628211ull;
  return h;
}

bool NameEqual::operator()(std::string_view a, std::string_view b) const noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

Document::Document(std::string content) : content_(std::move(content)) {
  const std::string_view all(content_);
  const std::size_t n = all.size();
  std::size_t pos = (n >= 3 && all.compare(0, 3, "\xEF\xBB\xBF") == 0) ? 3 : 0;

  eol_ = "\n";
  const std::size_t first_break = all.find_first_of("\r\n");
  if (first_break != std::string_view::npos) {
    if (all[first_break] == '\n')
      eol_ = "\n";
    else if (first_break + 1 < n && all[first_break + 1] == '\n')
      eol_ = "\r\n";
    else
      eol_ = "\r";
  }

  sections_.push_back(Section{{}, 0, n, pos, {}, {}});
  while (pos < n) {
    const std::size_t begin = pos;
    std::size_t text_end = begin;
    while (text_end < n && !IsLineBreak(all[text_end])) ++text_end;
    std::size_t next = text_end;
    if (next < n) next += (all[next] == '\r' && next + 1 < n && all[next + 1] == '\n') ? 2 : 1;
    pos = next;

    const std::string_view line = all.substr(begin, text_end - begin);
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size()) continue;  // blank line

    if (line[first] == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos && close > first) {
        sections_.back().end = begin;
        Section s{Trim(line.substr(first + 1, close - first - 1)), begin, n, next, {}, {}};
        index_.emplace(s.name, sections_.size());
        sections_.push_back(std::move(s));
        continue;
      }
    }
    Section& cur = sections_.back();
    cur.insert_at = next;
    if (line[first] == ';') continue;  // comment
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;

    // An empty value is written in place just after the '='.
    const std::string_view after = line.substr(eq + 1);
    const std::string_view raw = Trim(after);
    const std::size_t raw_b =
        raw.empty() ? eq + 1 : static_cast<std::size_t>(raw.data() - line.data());
    Entry e{Trim(line.substr(0, eq)),
            StripQuotes(Trim(after.substr(0, after.find('\0')))),
            begin,
            next,
            begin + raw_b,
            begin + raw_b + raw.size()};
    cur.index.emplace(e.key, cur.entries.size());
    cur.entries.push_back(e);
  }
}

const Section* Document::FindSection(std::string_view name) const {
  const auto it = index_.find(Trim(name));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

const Entry* Document::FindEntry(const Section& section, std::string_view key) const {
  const auto it = section.index.find(Trim(key));
  return it == section.index.end() ? nullptr : &section.entries[it->second];
}

const Entry* Document::FindEntry(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  return s ? FindEntry(*s, key) : nullptr;
}

std::size_t CopyValue(std::string_view text, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n;
}

std::size_t CopyList(const std::vector<std::string_view>& names, char* buffer, std::size_t size) {
  if (size < 2) {
    if (size == 1) buffer[0] = '\0';
    return 0;
  }
  std::size_t total = 0;
  for (std::string_view n : names) total += n.size() + 1;
  const bool whole = total + 2 <= size;
  const std::size_t limit = whole ? total : size - 2;
  std::size_t at = 0;
  for (std::string_view n : names) {
    if (at >= limit) break;
    const std::size_t take = n.size() < limit - at ? n.size() : limit - at;
    std::memcpy(buffer + at, n.data(), take);
    at += take;
    if (at < limit) buffer[at++] = '\0';
  }
  buffer[at] = '\0';
  if (!whole || total == 0) buffer[at + 1] = '\0';
  return at;
}

std::vector<std::string_view> KeyNames(const Document& doc, std::string_view section) {
  std::vector<std::string_view> names;
  if (const Section* s = doc.FindSection(section)) {
    names.reserve(s->entries.size());
    for (const Entry& e : s->entries)
      if (!e.key.empty()) names.push_back(e.key);
  }
  return names;
}

std::vector<std::string_view> SectionNames(const Document& doc) {
  std::vector<std::string_view> names;
  for (const Section& s : doc.sections())
    if (!s.name.empty()) names.push_back(s.name);
  return names;
}

bool IsWritableSection(std::string_view section) {
  const std::string_view t = Trim(section);
  return !t.empty() && !HasLineBreak(section) && t.find(']') == std::string_view::npos;
}

bool IsWritableKey(std::string_view key) {
  const std::string_view t = Trim(key);
  return !t.empty() && !HasLineBreak(key) && t.find('=') == std::string_view::npos &&
         t.front() != '[' && t.front() != ';';
}

bool IsWritableValue(std::string_view value) {
  return !HasLineBreak(value);
}

Edit SetValue(const Document& doc, std::string_view section, std::string_view key,
              std::string_view value, std::string* out) {
  if (!IsWritableSection(section) || !IsWritableKey(key) || !IsWritableValue(value))
    return Edit::kRefused;
  const std::string_view eol = doc.LineEnding();
  std::string line;
  line.append(Trim(key)).append("=").append(value).append(eol);

  const Section* s = doc.FindSection(section);
  if (!s) {
    std::string lines;
    lines.append("[").append(Trim(section)).append("]").append(eol).append(line);
    *out = InsertLines(doc, doc.content().size(), lines);
    return Edit::kChanged;
  }
  const Entry* e = doc.FindEntry(*s, key);
  if (!e) {
    *out = InsertLines(doc, s->insert_at, line);
    return Edit::kChanged;
  }
  const std::string& c = doc.content();
  if (c.compare(e->raw_begin, e->raw_end - e->raw_begin, value.data(), value.size()) == 0)
    return Edit::kUnchanged;
  out->clear();
  out->reserve(c.size() + value.size());
  out->append(c, 0, e->raw_begin).append(value).append(c, e->raw_end, std::string::npos);
  return Edit::kChanged;
}

Edit AddValue(const Document& doc, std::string_view section, std::string_view key,
              std::string_view value, std::string* out) {
  const Entry* e = doc.FindEntry(section, key);
  if (e && !e->value.empty() && IsWritableValue(value)) return Edit::kUnchanged;
  return SetValue(doc, section, key, value, out);
}

Edit DeleteKey(const Document& doc, std::string_view section, std::string_view key,
               std::string* out) {
  const Entry* e = doc.FindEntry(section, key);
  if (!e) return Edit::kUnchanged;
  const std::string& c = doc.content();
  out->assign(c, 0, e->line_begin).append(c, e->line_end, std::string::npos);
  return Edit::kChanged;
}

Edit DeleteSection(const Document& doc, std::string_view section, std::string* out) {
  const Section* s = doc.FindSection(section);
  if (!s) return Edit::kUnchanged;
  const std::string& c = doc.content();
  out->assign(c, 0, s->begin).append(c, s->end, std::string::npos);
  return Edit::kChanged;
}

}  // namespace cslib::port::ini
