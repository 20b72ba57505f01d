// The trusted comment of a signed release file: what a signature binds to
// the file, so that a genuine file cannot be served as another product's,
// under another number or path, after its time, or beside another release.
//
// One line: the word "korvane-release", then fields "key=value", each after
// one space, in exactly this order:
//   descriptor log/N.ini:  product release path previous
//   version file:          product release path expires newest newest_hash
//
//   korvane-release product=/qt482/ release=12 path=log/12.ini previous=log/11.ini
//   korvane-release product=/qt482/ release=12 path=version.ini expires=2027-01-10T00:00:00Z
//     newest=log/12.ini newest_hash=<128 hexadecimal digits>      (on the same line)
//
// - product: the product folder on the server as the client names it
//   (productdir, "/qt482/"); path, previous and newest: paths relative to it.
// - release: the release number N in decimal, 1 to 2147483647, no leading 0.
// - previous: the path of the signed descriptor before this one, or "-" for
//   the first signed release; the client follows these links down to its
//   installed version, so no release in between can be left out.
// - expires: a time in UTC; the version file is refused from then on.
// - newest: the descriptor of release N; newest_hash its BLAKE2b-512, in
//   lower-case hexadecimal.
// Values are bytes; a byte outside "!" to "~", and "%", "=" are written as
// "%" and two upper-case hexadecimal digits, and only those are, so every
// comment has exactly one spelling. Anything else is refused: unknown,
// missing, repeated or reordered fields, a second blank, a value out of range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace app {

inline constexpr std::string_view kReleaseCommentWord = "korvane-release";

struct ReleaseComment {
  enum class Kind { kDescriptor, kVersionFile };
  Kind kind = Kind::kDescriptor;
  std::string product;
  int32_t release = 0;
  std::string path;
  // kDescriptor
  std::string previous;  // "-" for none
  // kVersionFile
  int64_t expires = 0;  // seconds since 1970-01-01 UTC
  std::string newest;
  std::string newest_hash;
  bool operator==(const ReleaseComment&) const = default;
};

std::optional<ReleaseComment> ParseReleaseComment(std::string_view text);
std::string FormatReleaseComment(const ReleaseComment& comment);

// "2027-01-10T00:00:00Z" and back; nullopt for anything else (also dates
// that do not exist and years outside 1970 to 9999).
std::optional<int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(int64_t seconds);

}  // namespace app
