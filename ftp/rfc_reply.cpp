#include "ftp/rfc_reply.h"

namespace ftp {
namespace {

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsControlOrSpace(text[begin])) ++begin;
  while (end > begin && IsControlOrSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A decimal integer in the 32-bit signed range: one optional sign, digits to
// the end. Anything else gives 0.
int32_t DecimalOrZero(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return 0;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return 0;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return 0;
  return static_cast<int32_t>(value);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

void TIdRFCReply::SetNumericCode(int32_t value) {
  numeric_code_ = value;
  if (value > 0) text_code_ = std::to_string(value);
}

void TIdRFCReply::SetTextCode(const std::string& value) {
  text_code_ = value;
  if (!value.empty()) numeric_code_ = DecimalOrZero(value);
}

void TIdRFCReply::EmptyReply() {
  numeric_code_ = 0;
  text_.clear();
  text_code_.clear();
}

void TIdRFCReply::CopyValuesFrom(const TIdRFCReply& source) {
  if (&source == this) return;
  EmptyReply();
  numeric_code_ = source.numeric_code_;
  text_ = source.text_;
  text_code_ = source.text_code_;
}

void TIdRFCReply::ParseLines(const std::vector<std::string>& lines) {
  EmptyReply();
  if (lines.empty()) return;
  std::string code = Trim(lines.front().substr(0, 4));
  if (code.size() == 4 && code[3] == '-') code.resize(3);
  SetTextCode(code);
  text_.reserve(lines.size());
  for (const std::string& line : lines) text_.push_back(line.size() > 4 ? line.substr(4) : std::string());
}

std::string EIdProtocolReplyError::MessageOf(const std::vector<std::string>& text) {
  std::string message;
  for (const std::string& line : text) message.append(line).append("\r\n");
  return message;
}

EIdProtocolReplyError::EIdProtocolReplyError(int32_t reply_code, const std::vector<std::string>& text)
    : net::EIdException(MessageOf(text)), reply_code_(reply_code) {}

EIdProtocolReplyError::EIdProtocolReplyError(const TIdRFCReply& reply)
    : EIdProtocolReplyError(reply.NumericCode(), reply.Text()) {}

std::vector<std::string> ReadReplyLines(const ReplyLineSource& next_line, size_t max_bytes) {
  std::vector<std::string> lines;
  lines.push_back(next_line());
  size_t total = lines.back().size();
  if (total > max_bytes) throw EIdReplyTooLong();
  const std::string& first = lines.front();
  if (first.size() <= 3 || first[3] != '-') return lines;

  const std::string terminator = first.substr(0, 3) + " ";
  for (;;) {
    std::string line = next_line();
    total += line.size();
    if (total > max_bytes) throw EIdReplyTooLong();
    const bool last = line.size() < 4 || EqualsIgnoringCase(line.substr(0, 4), terminator);
    lines.push_back(std::move(line));
    if (last) return lines;
  }
}

void ReadReply(const ReplyLineSource& next_line, TIdRFCReply& reply) {
  reply.ParseLines(ReadReplyLines(next_line));
}

}  // namespace ftp
