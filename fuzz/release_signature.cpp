// The signature file and release comment parsers: every input either is
// refused or reads back the same after writing it out again, and a release
// comment that reads has exactly the text it was read from (one spelling).
// The input is tried as a whole signature file and as a trusted comment.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/minisign.h"
#include "app/release_comment.h"
#include "fuzz_check.h"

namespace {

void CheckComment(const std::string& text) {
  const std::optional<app::ReleaseComment> comment = app::ParseReleaseComment(text);
  if (!comment) return;
  FUZZ_CHECK(app::FormatReleaseComment(*comment) == text, fuzz::Shown(text));
  FUZZ_CHECK(comment->release >= 1, fuzz::Shown(text));
  FUZZ_CHECK(!comment->product.empty() && !comment->path.empty(), fuzz::Shown(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::optional<app::minisign::Signature> signature = app::minisign::ParseSignature(input);
  if (signature) {
    const std::string written = app::minisign::FormatSignature(*signature);
    FUZZ_CHECK(app::minisign::ParseSignature(written) == signature, fuzz::Shown(input));
    FUZZ_CHECK(signature->algorithm == "ED" || signature->algorithm == "Ed", fuzz::Shown(input));
    FUZZ_CHECK(signature->trusted_comment.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
               fuzz::Shown(input));
    CheckComment(signature->trusted_comment);
  }
  CheckComment(input);
  return 0;
}
