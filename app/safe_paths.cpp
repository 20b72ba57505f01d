#include "app/safe_paths.h"

#include <vector>

#include "platform/encoding.h"

namespace app {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The components between separators; a separator inside a GBK pair belongs
// to its character.
std::vector<std::string> Components(const std::string& name) {
  std::vector<std::string> components;
  std::string current;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (i + 1 < name.size() && platform::IsGbkPair(c, static_cast<unsigned char>(name[i + 1]))) {
      current += name[i];
      current += name[++i];
    } else if (IsSeparator(name[i])) {
      if (!current.empty()) components.push_back(std::move(current));
      current.clear();
    } else {
      current += name[i];
    }
  }
  if (!current.empty()) components.push_back(std::move(current));
  return components;
}

}  // namespace

bool IsSafeRelativeName(const std::string& name) {
  if (name.empty() || IsSeparator(name[0])) return false;
  if (name.find('\0') != std::string::npos) return false;
  if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') return false;
  bool names_something = false;
  for (const std::string& component : Components(name)) {
    if (component == "..") return false;
    if (component != ".") names_something = true;
  }
  return names_something;
}

bool IsSafeEntryName(const std::string& name) {
  if (!IsSafeRelativeName(name)) return false;
  const std::vector<std::string> components = Components(name);
  return components.size() == 1 && components[0] == name;
}

}  // namespace app
