#include "settings/profile.h"

#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/whole_file.h"

namespace settings {
namespace {

using platform::IsGbkPair;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsPairAt(std::string_view text, size_t i) {
  return i + 1 < text.size() &&
         IsGbkPair(static_cast<unsigned char>(text[i]), static_cast<unsigned char>(text[i + 1]));
}

// The name as compared: ASCII letters folded, GBK double-byte characters
// (whose second byte may be an ASCII letter) kept as they are.
std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (size_t i = 0; i < folded.size(); ++i) {
    if (IsPairAt(folded, i)) {
      ++i;
    } else if (folded[i] >= 'A' && folded[i] <= 'Z') {
      folded[i] = static_cast<char>(folded[i] + ('a' - 'A'));
    }
  }
  return folded;
}

std::string_view Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// At most max bytes of text, never ending on the first byte of a GBK pair.
std::string CutText(std::string_view text, size_t max) {
  if (text.size() <= max) return std::string(text);
  size_t end = 0;
  while (end < max) {
    const size_t step = IsPairAt(text, end) ? 2 : 1;
    if (end + step > max) break;
    end += step;
  }
  return std::string(text.substr(0, end));
}

struct Line {
  enum class Kind { kOther, kSection, kKey };
  size_t begin = 0;     // first byte of the line
  size_t text_end = 0;  // end of its text: the line ending or its first NUL
  size_t end = 0;       // where the line ending starts
  size_t next = 0;      // first byte of the next line
  Kind kind = Kind::kOther;
  std::string_view name;  // section name or key, trimmed
  size_t equals = 0;       // key lines: the "=", then the trimmed value
  size_t value_begin = 0;
  size_t value_end = 0;
};

void ClassifyLine(std::string_view text, size_t content_begin, Line& line) {
  size_t s = content_begin;
  while (s < line.text_end && IsBlank(text[s])) ++s;
  if (s >= line.text_end || text[s] == ';') return;
  if (text[s] == '[') {
    size_t close = std::string_view::npos;
    for (size_t i = s + 1; i < line.text_end; ++i) {
      if (IsPairAt(text.substr(0, line.text_end), i)) {
        ++i;
      } else if (text[i] == ']') {
        close = i;
        break;
      }
    }
    if (close == std::string_view::npos) {
      // A name ending in a stray lead byte swallows the "]" above.
      for (size_t i = line.text_end; i > s + 1; --i) {
        if (text[i - 1] == ']') {
          close = i - 1;
          break;
        }
      }
    }
    if (close == std::string_view::npos) return;
    line.kind = Line::Kind::kSection;
    line.name = Trim(text.substr(s + 1, close - s - 1));
    return;
  }
  const size_t eq = text.substr(0, line.text_end).find('=', s);
  if (eq == std::string_view::npos) return;
  line.kind = Line::Kind::kKey;
  line.name = Trim(text.substr(s, eq - s));
  line.equals = eq;
  size_t vb = eq + 1;
  size_t ve = line.text_end;
  while (vb < ve && IsBlank(text[vb])) ++vb;
  while (ve > vb && IsBlank(text[ve - 1])) --ve;
  line.value_begin = vb;
  line.value_end = ve;
}

// The lines of a file; a line ending at the very end opens no further line.
std::vector<Line> ParseLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    Line line;
    line.begin = pos;
    size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    line.end = end;
    if (end < text.size()) {
      line.next = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    } else {
      line.next = end;
    }
    const void* nul = std::memchr(text.data() + pos, '\0', end - pos);
    line.text_end = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text.data()) : end;
    size_t content_begin = pos;
    if (pos == 0 && text.substr(0, 3) == "\xEF\xBB\xBF") content_begin = std::min<size_t>(3, line.text_end);
    ClassifyLine(text, content_begin, line);
    lines.push_back(line);
    pos = line.next;
  }
  return lines;
}

struct Profile {
  std::string text;
  std::vector<Line> lines;

  static constexpr size_t npos = static_cast<size_t>(-1);

  // Index of the header of the first section of that name, or npos.
  size_t FindSection(const std::string& folded_name) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].kind == Line::Kind::kSection && FoldName(lines[i].name) == folded_name) return i;
    }
    return npos;
  }
  // One past the last line of the section whose header is at index header.
  size_t SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != Line::Kind::kSection) ++i;
    return i;
  }
  size_t FindKey(size_t header, const std::string& folded_key) const {
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
      if (lines[i].kind == Line::Kind::kKey && FoldName(lines[i].name) == folded_key) return i;
    }
    return npos;
  }
};

// The profile as it is on disk now; empty when the file is missing or unusable.
Profile ReadProfile(const std::string& file) {
  Profile profile;
  platform::WholeFile whole;
  if (platform::ReadWholeFile(platform::ResolvePath(file), kMaxProfileFileSize, whole) ==
      platform::WholeFileRead::kRead) {
    profile.text = std::move(whole.text);
  }
  profile.lines = ParseLines(profile.text);
  return profile;
}

// Adds names to a listing while they fit whole, with the final NUL, into a
// buffer of buffer_size bytes. Gives false once one does not fit.
class Listing {
 public:
  explicit Listing(size_t buffer_size) : buffer_size_(buffer_size) {}
  bool Add(std::string_view name) {
    if (name.empty()) return true;  // it would end the listing early
    if (!seen_.insert(FoldName(name)).second) return true;
    if (out_.size() + name.size() + 2 > buffer_size_) return false;
    out_.append(name);
    out_ += '\0';
    return true;
  }
  std::string Take() { return std::move(out_); }

 private:
  size_t buffer_size_;
  std::string out_;
  std::unordered_set<std::string> seen_;
};

bool HasByte(const std::string& text, const char* bytes) {
  return text.find_first_of(bytes, 0, std::strlen(bytes) + 1) != std::string::npos;  // + the NUL
}

bool HasBareByte(std::string_view text, char c) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsPairAt(text, i)) {
      ++i;
    } else if (text[i] == c) {
      return true;
    }
  }
  return false;
}

// The texts of a write that the reader would give back as they were meant.
bool Writable(const std::string* section, const std::string* key, const std::string* value) {
  if (section != nullptr && (HasByte(*section, "\r\n") || HasBareByte(*section, ']'))) return false;
  if (key != nullptr) {
    if (HasByte(*key, "\r\n") || key->find('=') != std::string::npos) return false;
    const std::string_view trimmed = Trim(*key);
    if (!trimmed.empty() && (trimmed[0] == '[' || trimmed[0] == ';')) return false;
  }
  return value == nullptr || !HasByte(*value, "\r\n");
}

std::string LineEndingOf(const std::string& text) {
  const size_t pos = text.find_first_of("\r\n");
  if (pos == std::string::npos) return "\r\n";
  if (text[pos] == '\n') return "\n";
  return (pos + 1 < text.size() && text[pos + 1] == '\n') ? "\r\n" : "\r";
}

bool LineIsBlank(const Profile& profile, const Line& line) {
  return Trim(std::string_view(profile.text).substr(line.begin, line.text_end - line.begin)).empty();
}

std::string WriteKey(const Profile& p, const std::string& section, const std::string& key,
                     const std::string& value) {
  const std::string& text = p.text;
  const std::string eol = LineEndingOf(text);
  const size_t header = p.FindSection(FoldName(section));
  if (header == Profile::npos) {
    std::string out = text;
    if (!out.empty()) {
      if (out.back() != '\n' && out.back() != '\r') out += eol;
      if (!LineIsBlank(p, p.lines.back())) out += eol;
    }
    return out + "[" + section + "]" + eol + key + "=" + value + eol;
  }
  const size_t k = p.FindKey(header, FoldName(key));
  if (k != Profile::npos) {
    // The spacing around the old value stays, unless the new value brings
    // blanks of its own on that side: then they replace it, so that writing
    // the same value again gives the same line.
    const Line& line = p.lines[k];
    const bool own_leading = !value.empty() && IsBlank(value.front());
    const bool own_trailing = !value.empty() && IsBlank(value.back());
    const size_t begin = own_leading ? line.equals + 1 : line.value_begin;
    const size_t end = own_trailing ? line.text_end : line.value_end;
    return text.substr(0, begin) + value + text.substr(end, line.text_end - end) + text.substr(line.end);
  }
  // After the section's last key, or right after its header.
  size_t after = header;
  for (size_t i = header + 1; i < p.SectionEnd(header); ++i) {
    if (p.lines[i].kind == Line::Kind::kKey) after = i;
  }
  const Line& line = p.lines[after];
  const std::string missing_eol = line.next == line.end ? eol : "";
  return text.substr(0, line.next) + missing_eol + key + "=" + value + eol + text.substr(line.next);
}

std::string RemoveKey(const Profile& p, const std::string& section, const std::string& key) {
  const size_t header = p.FindSection(FoldName(section));
  if (header == Profile::npos) return p.text;
  const std::string folded = FoldName(key);
  std::string out;
  size_t copied = 0;
  for (size_t i = header + 1; i < p.SectionEnd(header); ++i) {
    const Line& line = p.lines[i];
    if (line.kind != Line::Kind::kKey || FoldName(line.name) != folded) continue;
    out.append(p.text, copied, line.begin - copied);
    copied = line.next;
  }
  out.append(p.text, copied, std::string::npos);
  return out;
}

std::string RemoveSection(const Profile& p, const std::string& section) {
  const std::string folded = FoldName(section);
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const Line& line = p.lines[i];
    if (line.kind != Line::Kind::kSection || FoldName(line.name) != folded) continue;
    const size_t end = p.SectionEnd(i);
    out.append(p.text, copied, line.begin - copied);
    copied = end < p.lines.size() ? p.lines[end].begin : p.text.size();
    i = end - 1;
  }
  out.append(p.text, copied, std::string::npos);
  return out;
}

}  // namespace

std::string ReadProfileString(const std::string& file, const std::string* section,
                              const std::string* key, const std::string& default_value,
                              size_t buffer_size) {
  if (buffer_size == 0) return {};
  const Profile profile = ReadProfile(file);
  if (section == nullptr) {
    Listing listing(buffer_size);
    for (const Line& line : profile.lines) {
      if (line.kind == Line::Kind::kSection && !listing.Add(line.name)) break;
    }
    return listing.Take();
  }
  const size_t header = profile.FindSection(FoldName(Trim(*section)));
  if (key == nullptr) {
    Listing listing(buffer_size);
    if (header == Profile::npos) return {};
    for (size_t i = header + 1; i < profile.SectionEnd(header); ++i) {
      const Line& line = profile.lines[i];
      if (line.kind == Line::Kind::kKey && !listing.Add(line.name)) break;
    }
    return listing.Take();
  }
  if (header != Profile::npos) {
    const size_t k = profile.FindKey(header, FoldName(Trim(*key)));
    if (k != Profile::npos) {
      const Line& line = profile.lines[k];
      return CutText(std::string_view(profile.text).substr(line.value_begin, line.value_end - line.value_begin),
                     buffer_size - 1);
    }
  }
  return CutText(default_value, buffer_size - 1);
}

bool WriteProfileString(const std::string& file, const std::string* section,
                        const std::string* key, const std::string* value) {
  if (section == nullptr) return true;  // a flush: nothing is held back
  if (!Writable(section, key, value)) return false;

  const std::string target = platform::RewriteTarget(file);
  if (target.empty()) return false;
  platform::WholeFile whole;
  const platform::WholeFileRead load = platform::ReadWholeFile(target, kMaxProfileFileSize, whole);
  if (load == platform::WholeFileRead::kUnusable) return false;
  const bool exists = load == platform::WholeFileRead::kRead;
  Profile profile;
  profile.text = std::move(whole.text);
  profile.lines = ParseLines(profile.text);

  const std::string section_name(Trim(*section));
  std::string updated;
  if (key == nullptr) {
    updated = RemoveSection(profile, section_name);
  } else if (value == nullptr) {
    updated = RemoveKey(profile, section_name, std::string(Trim(*key)));
  } else {
    updated = WriteKey(profile, section_name, std::string(Trim(*key)), *value);
  }
  if (updated == profile.text && (exists || value == nullptr)) return true;

  return platform::RewriteWholeFile(target, updated, exists ? &whole : nullptr);
}

}  // namespace settings
