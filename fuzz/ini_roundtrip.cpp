// The INI reader and writer. The input is a file (up to a "\xFF\xFF" mark)
// and, after the mark, a script of writes and removals.
//  1. Everything read from the file (sections, keys, values), written key by
//     key into a new file through the writer, reads back the same.
//  2. Writing back what was read leaves the file byte for byte as it was.
//  3. Reading never changes the file; lookups ignore ASCII letter case.
//  4. Each write or removal of the script changes exactly what it names:
//     after every step the file reads as a model of it says, and a refused
//     step leaves the file alone.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "integer_reference.h"
#include "platform/encoding.h"
#include "settings/profile.h"
#include "settings/ini_file.h"

namespace {

std::string g_folder;  // this process's own scratch folder

std::string Path(const char* name) { return g_folder + "/" + name; }

void WriteRaw(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Pair(const std::string& s, size_t i) {
  return i + 1 < s.size() &&
         platform::IsGbkPair(static_cast<unsigned char>(s[i]), static_cast<unsigned char>(s[i + 1]));
}

// Names as the reader compares them: ASCII letters folded outside GBK pairs.
std::string Fold(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    if (Pair(out, i)) ++i;
    else if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] + 32);
  }
  return out;
}

// The same name in other letter cases, which must find the same entry.
std::string Recased(const std::string& s, bool upper) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    if (Pair(out, i)) ++i;
    else if (upper && out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 32);
    else if (!upper && out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] + 32);
  }
  return out;
}

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

std::vector<std::string> SplitNames(const std::string& listing) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < listing.size()) {
    const size_t nul = listing.find('\0', pos);
    FUZZ_CHECK(nul != std::string::npos, "listing without its NUL");
    names.push_back(listing.substr(pos, nul - pos));
    pos = nul + 1;
  }
  return names;
}

constexpr size_t kHuge = 64 * 1024 * 1024;

struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
};
using Model = std::vector<Section>;

std::string Describe(const Model& model) {
  std::string out;
  for (const Section& s : model) {
    out += "[" + fuzz::Shown(s.name) + "]";
    for (const auto& [k, v] : s.keys) out += " " + fuzz::Shown(k) + "=" + fuzz::Shown(v);
    out += "; ";
  }
  return out;
}

// The whole file as the reader gives it.
Model ReadAll(const std::string& file) {
  Model model;
  for (const std::string& name : SplitNames(settings::ReadProfileString(file, nullptr, nullptr, "", kHuge))) {
    Section section{name, {}};
    for (const std::string& key : SplitNames(settings::ReadProfileString(file, &name, nullptr, "", kHuge))) {
      const std::string missing = "\n";  // no value holds a line ending
      const std::string value = settings::ReadProfileString(file, &name, &key, missing, kHuge);
      FUZZ_CHECK(value != missing, "listed key " + fuzz::Shown(key) + " reads as missing");
      section.keys.emplace_back(key, value);
    }
    model.push_back(std::move(section));
  }
  return model;
}

bool SameModel(const Model& a, const Model& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].keys != b[i].keys) return false;
  }
  return true;
}

Model WithoutEmptySections(Model model) {
  Model out;
  for (Section& s : model) {
    if (!s.keys.empty()) out.push_back(std::move(s));
  }
  return out;
}

void CheckRoundTrip(const std::string& bytes) {
  const std::string a = Path("a.ini");
  WriteRaw(a, bytes);
  const Model read = ReadAll(a);
  const std::string context = "file '" + fuzz::Shown(bytes) + "' read as " + Describe(read);

  // Through the settings class: the same sections, values cut at 2047 bytes,
  // integers by the rule, names in any letter case.
  settings::TIniFile ini(a);
  std::vector<std::string> sections;
  ini.ListSections(sections);
  FUZZ_CHECK(sections.size() == read.size(), context);
  for (size_t i = 0; i < read.size(); ++i) {
    const Section& s = read[i];
    FUZZ_CHECK(sections[i] == s.name, context);
    for (const auto& [key, value] : s.keys) {
      const std::string text = ini.ReadTextValue(s.name, key, "?");
      FUZZ_CHECK(value.compare(0, text.size(), text) == 0 && text.size() <= 2047 &&
                     (text.size() == value.size() || text.size() >= 2046),
                 context);
      FUZZ_CHECK(ini.ReadTextValue(Recased(s.name, true), Recased(key, false), "?") == text, context);
      FUZZ_CHECK(ini.ReadIntegerValue(s.name, key, -99) == fuzz::ReferenceInt32Def(text, -99), context);
    }
  }
  FUZZ_CHECK(ReadRaw(a) == bytes, "reading changed the file; " + context);

  // Every key into a new file, then read back.
  const std::string b = Path("b.ini");
  std::remove(b.c_str());
  for (const Section& s : read) {
    for (const auto& [key, value] : s.keys) {
      FUZZ_CHECK(settings::WriteProfileString(b, &s.name, &key, &value), "refused " + fuzz::Shown(key) + "; " + context);
    }
  }
  const Model copied = ReadAll(b);
  FUZZ_CHECK(SameModel(copied, WithoutEmptySections(read)), "copy read as " + Describe(copied) + "; " + context);

  // Writing back what was read changes nothing (a NUL byte ends a line's
  // text, and a write may drop what stood after it, so not for those).
  if (bytes.find('\0') == std::string::npos) {
    for (const Section& s : read) {
      for (const auto& [key, value] : s.keys) {
        FUZZ_CHECK(settings::WriteProfileString(a, &s.name, &key, &value), context);
      }
    }
    FUZZ_CHECK(ReadRaw(a) == bytes, "writing back what was read changed the file; " + context);
  }
}

// Texts for the script: short, from bytes that matter to the layout.
std::string MakeText(FuzzedDataProvider& in, bool name) {
  static const char kBytes[] = {'a', 'B', 'k', ' ', '\t', '=', ';', '[', ']', '\r', '\n', '\0', '\x81', '\xBF',
                                '\xEF', '\xBB', 'x', '1', '#', '"', '\x7F', '\xFE', '@', '`'};
  const size_t n = in.ConsumeIntegralInRange<size_t>(name ? 1 : 0, 6);
  std::string out;
  for (size_t i = 0; i < n; ++i) out += kBytes[in.ConsumeIntegralInRange<size_t>(0, sizeof kBytes - 1)];
  if (name && TrimBlanks(out).empty()) out += 'n';  // blank names are left out of listings
  return out;
}

std::string Pick(FuzzedDataProvider& in, const std::vector<std::string>& known, bool name) {
  if (!known.empty() && in.ConsumeBool()) {
    const std::string& k = known[in.ConsumeIntegralInRange<size_t>(0, known.size() - 1)];
    const int variant = in.ConsumeIntegralInRange(0, 3);
    if (variant == 0) return Recased(k, true);
    if (variant == 1) return Recased(k, false);
    if (variant == 2) return " " + k + "\t";
    return k;
  }
  return MakeText(in, name);
}

bool HasAny(const std::string& s, const std::string& bytes) {
  for (char c : bytes) if (s.find(c) != std::string::npos) return true;
  return false;
}

// A write the reader could not give back as meant may be refused.
bool MayRefuse(const std::string* section, const std::string* key, const std::string* value) {
  const std::string bad("\r\n\0", 3);
  if (section && (HasAny(*section, bad) || HasAny(*section, "]"))) return true;
  if (key) {
    const std::string t = TrimBlanks(*key);
    if (HasAny(*key, bad) || HasAny(*key, "=") || (!t.empty() && (t[0] == '[' || t[0] == ';'))) return true;
  }
  return value && HasAny(*value, bad);
}

Section* Find(Model& model, const std::string& name) {
  for (Section& s : model) if (Fold(s.name) == Fold(TrimBlanks(name))) return &s;
  return nullptr;
}

void RunScript(const std::string& bytes, FuzzedDataProvider& in) {
  const std::string a = Path("a.ini");
  WriteRaw(a, bytes);
  Model model = ReadAll(a);
  std::string history = "file '" + fuzz::Shown(bytes) + "'";
  for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
    std::vector<std::string> section_names;
    for (const Section& s : model) section_names.push_back(s.name);
    const int op = in.ConsumeIntegralInRange(0, 9);
    const std::string section = Pick(in, section_names, true);
    Section* target = Find(model, section);
    std::vector<std::string> key_names;
    if (target) for (const auto& kv : target->keys) key_names.push_back(kv.first);
    const std::string key = Pick(in, key_names, true);
    const std::string value = MakeText(in, false);
    const std::string before = ReadRaw(a);
    bool ok = false;
    if (op <= 6) {
      history += "; write [" + fuzz::Shown(section) + "] " + fuzz::Shown(key) + "=" + fuzz::Shown(value);
      ok = settings::WriteProfileString(a, &section, &key, &value);
      FUZZ_CHECK(ok || MayRefuse(&section, &key, &value), history);
      if (ok) {
        if (!target) {
          model.push_back({TrimBlanks(section), {}});
          target = &model.back();
        }
        bool replaced = false;
        for (auto& kv : target->keys) {
          if (Fold(kv.first) == Fold(TrimBlanks(key))) {
            kv.second = TrimBlanks(value);
            replaced = true;
            break;
          }
        }
        if (!replaced) target->keys.emplace_back(TrimBlanks(key), TrimBlanks(value));
      }
    } else if (op <= 8) {
      history += "; remove [" + fuzz::Shown(section) + "] " + fuzz::Shown(key);
      ok = settings::WriteProfileString(a, &section, &key, nullptr);
      FUZZ_CHECK(ok || MayRefuse(&section, &key, nullptr), history);
      if (ok && target) {
        for (size_t i = 0; i < target->keys.size(); ++i) {
          if (Fold(target->keys[i].first) == Fold(TrimBlanks(key))) {
            target->keys.erase(target->keys.begin() + static_cast<std::ptrdiff_t>(i));
            break;
          }
        }
      }
    } else {
      history += "; remove [" + fuzz::Shown(section) + "]";
      ok = settings::WriteProfileString(a, &section, nullptr, nullptr);
      FUZZ_CHECK(ok || MayRefuse(&section, nullptr, nullptr), history);
      if (ok && target) model.erase(model.begin() + (target - model.data()));
    }
    if (!ok) FUZZ_CHECK(ReadRaw(a) == before, "a refused step changed the file; " + history);
    const Model now = ReadAll(a);
    FUZZ_CHECK(SameModel(now, model),
               history + "\n  file now '" + fuzz::Shown(ReadRaw(a)) + "'\n  reads " + Describe(now) +
                   "\n  expected " + Describe(model));
  }
}

void RemoveFolder() {
  std::remove(Path("a.ini").c_str());
  std::remove(Path("b.ini").c_str());
  rmdir(g_folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Memory-backed when possible: every write of the profile service is
  // flushed to disk, and a real disk would make each run slow.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  std::string pattern = std::string(base) + "/ini_roundtrip.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_folder = pattern;
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t mark = input.find("\xFF\xFF");
  const std::string file = input.substr(0, mark);
  CheckRoundTrip(file);
  if (mark != std::string::npos) {
    const std::string script = input.substr(mark + 2);
    FuzzedDataProvider in(reinterpret_cast<const uint8_t*>(script.data()), script.size());
    RunScript(file, in);
  }
  return 0;
}
