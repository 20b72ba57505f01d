// The reply reader fed the way a control connection feeds it: the input is
// the byte stream from the server, cut into LF-terminated lines that are
// stripped of bytes up to 32 at both ends, empty ones skipped; the end of the
// stream closes the connection. Every reply read is compared with a second
// reading of the reply rules written here, and so is ParseLines on raw lines.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ftp/rfc_reply.h"
#include "fuzz_check.h"
#include "net/exceptions.h"

namespace {

constexpr size_t kMaxLineLength = 16384;  // the connection's MaxLineLength

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string Stripped(const std::string& line) {
  size_t b = 0;
  size_t e = line.size();
  while (b < e && IsControlOrSpace(line[b])) ++b;
  while (e > b && IsControlOrSpace(line[e - 1])) --e;
  return line.substr(b, e - b);
}

// What ReadNonEmptyLine would give, one after the other, and how the stream
// ends: closed (bytes after the last LF are lost) or a line over the limit.
struct Connection {
  std::vector<std::string> lines;
  bool ends_with_long_line = false;
};

Connection Split(const std::string& stream) {
  Connection c;
  size_t pos = 0;
  while (true) {
    const size_t lf = stream.find('\n', pos);
    const size_t end = lf == std::string::npos ? stream.size() : lf;
    if (end - pos > kMaxLineLength) {
      c.ends_with_long_line = true;
      return c;
    }
    if (lf == std::string::npos) return c;
    std::string line = Stripped(stream.substr(pos, lf - pos));
    if (!line.empty()) c.lines.push_back(std::move(line));
    pos = lf + 1;
  }
}

// The reply rules once more: how many lines a reply takes, from `first`.
// Gives 0 when the stream ends first; sets too_long when the lines add up to
// more than max_bytes before the reply ends.
size_t ReferenceReplyLength(const std::vector<std::string>& lines, size_t first, size_t max_bytes,
                            bool& too_long) {
  too_long = false;
  if (first >= lines.size()) return 0;
  const std::string& head = lines[first];
  size_t total = head.size();
  if (total > max_bytes) {
    too_long = true;
    return 1;
  }
  if (head.size() < 4 || head[3] != '-') return 1;
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  for (size_t i = first + 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    total += line.size();
    if (total > max_bytes) {
      too_long = true;
      return i - first + 1;
    }
    if (line.size() < 4) return i - first + 1;
    bool ends = line[3] == ' ';
    for (size_t k = 0; k < 3 && ends; ++k) ends = upper(line[k]) == upper(head[k]);
    if (ends) return i - first + 1;
  }
  return 0;
}

struct ReferenceReply {
  int32_t code = 0;
  std::string text_code;
  std::vector<std::string> text;
};

ReferenceReply ReferenceParse(const std::vector<std::string>& lines) {
  ReferenceReply r;
  if (lines.empty()) return r;
  std::string code = Stripped(lines[0].substr(0, 4));
  if (code.size() == 4 && code[3] == '-') code.pop_back();
  r.text_code = code;
  // A decimal integer: one optional sign and digits only (at most 4 bytes
  // here, so never out of range).
  size_t i = (!code.empty() && (code[0] == '+' || code[0] == '-')) ? 1 : 0;
  bool decimal = i < code.size();
  int32_t value = 0;
  for (; i < code.size() && decimal; ++i) {
    decimal = code[i] >= '0' && code[i] <= '9';
    value = value * 10 + (code[i] - '0');
  }
  if (decimal) r.code = (code[0] == '-') ? -value : value;
  for (const std::string& line : lines) r.text.push_back(line.size() > 4 ? line.substr(4) : std::string());
  return r;
}

std::string Describe(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += "[" + fuzz::Shown(line) + "]";
  return out;
}

void CheckRecord(const ftp::TIdRFCReply& reply, const ReferenceReply& expected, const std::string& context) {
  FUZZ_CHECK(reply.NumericCode() == expected.code, context);
  FUZZ_CHECK(reply.TextCode() == expected.text_code, context);
  FUZZ_CHECK(reply.Text() == expected.text, context);
  const ftp::EIdProtocolReplyError error(reply);
  FUZZ_CHECK(error.ReplyCode() == expected.code, context);
  std::string message;
  for (const std::string& line : expected.text) message += line + "\r\n";
  FUZZ_CHECK(std::string(error.what()) == message.c_str(), context);  // what() ends at a NUL
}

bool SameRecord(const ftp::TIdRFCReply& a, const ftp::TIdRFCReply& b) {
  return a.NumericCode() == b.NumericCode() && a.TextCode() == b.TextCode() && a.Text() == b.Text();
}

// Replies read one after the other until the connection ends.
void ReadStream(const std::string& stream, size_t max_bytes, bool through_read_reply) {
  const Connection connection = Split(stream);
  size_t next = 0;
  const ftp::ReplyLineSource source = [&]() -> std::string {
    if (next < connection.lines.size()) return connection.lines[next++];
    if (connection.ends_with_long_line) throw net::EIdReadLnMaxLineLengthExceeded();
    throw net::EIdConnClosedGracefully();
  };
  ftp::TIdRFCReply reply;
  while (true) {
    const size_t first = next;
    bool too_long = false;
    const size_t length = ReferenceReplyLength(connection.lines, first, max_bytes, too_long);
    const std::string context = "reply from line " + std::to_string(first) + " of " + Describe(connection.lines);
    ftp::TIdRFCReply before;
    before.CopyValuesFrom(reply);
    try {
      if (through_read_reply) {
        ftp::ReadReply(source, reply);
      } else {
        reply.ParseLines(ftp::ReadReplyLines(source, max_bytes));
      }
    } catch (const ftp::EIdReplyTooLong&) {
      FUZZ_CHECK(too_long && next == first + length, context);
      FUZZ_CHECK(SameRecord(reply, before), context);
      continue;
    } catch (const net::EIdException&) {
      // The connection ended inside the reply: the last reply stays.
      FUZZ_CHECK(length == 0 && !too_long, context);
      FUZZ_CHECK(SameRecord(reply, before), context);
      return;
    }
    FUZZ_CHECK(length != 0 && !too_long && next == first + length, context);
    const std::vector<std::string> taken(connection.lines.begin() + static_cast<std::ptrdiff_t>(first),
                                         connection.lines.begin() + static_cast<std::ptrdiff_t>(next));
    CheckRecord(reply, ReferenceParse(taken), context);
  }
}

// ParseLines on raw, unstripped lines (empty ones and control bytes kept).
void ParseRaw(const std::string& stream) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos <= stream.size() && lines.size() < 64) {
    const size_t lf = stream.find('\n', pos);
    if (lf == std::string::npos) {
      lines.push_back(stream.substr(pos));
      break;
    }
    lines.push_back(stream.substr(pos, lf - pos));
    pos = lf + 1;
  }
  ftp::TIdRFCReply reply;
  reply.SetNumericCode(999);
  reply.Text().push_back("stale");
  reply.ParseLines(lines);
  CheckRecord(reply, ReferenceParse(lines), "raw " + Describe(lines));

  // The property rules: a positive code becomes the text code; a text code
  // sets the number, or keeps it when empty.
  ftp::TIdRFCReply copy;
  copy.CopyValuesFrom(reply);
  FUZZ_CHECK(SameRecord(copy, reply), "copy");
  const int32_t code = static_cast<int32_t>(stream.size() * 37) - 500;
  copy.SetNumericCode(code);
  FUZZ_CHECK(copy.NumericCode() == code, "numeric code");
  FUZZ_CHECK(copy.TextCode() == (code > 0 ? std::to_string(code) : reply.TextCode()), "numeric code");
  copy.SetTextCode("");
  FUZZ_CHECK(copy.NumericCode() == code && copy.TextCode().empty(), "empty text code");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // First byte: the reply limit (small, so that it is reached) and the way in.
  const size_t max_bytes = data[0] < 0x80 ? ftp::kMaxReplyBytes : static_cast<size_t>(data[0] & 0x3F) * 4;
  const bool through_read_reply = max_bytes == ftp::kMaxReplyBytes && (data[0] & 1) == 0;
  const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReadStream(stream, max_bytes, through_read_reply);
  ParseRaw(stream);
  return 0;
}
