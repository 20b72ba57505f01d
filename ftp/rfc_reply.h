// One numeric reply of a line protocol ("220 Service ready"), and the
// reading of a reply that spans several lines ("230-Welcome" ... "230 Done").
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/exceptions.h"

namespace ftp {

class TIdRFCReply {
 public:
  // 0 when the record is empty or the code is not a number.
  int32_t NumericCode() const { return numeric_code_; }
  // Stores the value; a value above 0 also becomes TextCode, in decimal.
  void SetNumericCode(int32_t value);

  // The lines of the reply, each without its first four characters.
  const std::vector<std::string>& Text() const { return text_; }
  std::vector<std::string>& Text() { return text_; }
  void SetText(const std::vector<std::string>& lines) { text_ = lines; }

  // The code as it stood at the start of the first line ("220", "+OK").
  const std::string& TextCode() const { return text_code_; }
  // Stores the text; a non-empty text also sets NumericCode to its decimal
  // value, or 0 when it is not a decimal integer.
  void SetTextCode(const std::string& value);

  // Code 0, no lines, no text code.
  void EmptyReply();
  // Takes the code, the lines and the text code of source as they stand.
  void CopyValuesFrom(const TIdRFCReply& source);
  // Fills the record from the raw lines of one reply: the code from the
  // first four characters of the first line ("230-" counts as "230"), each
  // line from its fifth character on.
  void ParseLines(const std::vector<std::string>& lines);

 private:
  int32_t numeric_code_ = 0;
  std::vector<std::string> text_;
  std::string text_code_;
};

// A reply whose code the caller does not allow. Its message is the reply's
// text, every line followed by CR LF; the code is in ReplyCode.
class EIdProtocolReplyError : public net::EIdException {
 public:
  EIdProtocolReplyError(int32_t reply_code, const std::vector<std::string>& text);
  explicit EIdProtocolReplyError(const TIdRFCReply& reply);

  int32_t ReplyCode() const { return reply_code_; }

  // The text lines, each followed by CR LF.
  static std::string MessageOf(const std::vector<std::string>& text);

 private:
  int32_t reply_code_;
};

// A reply that does not end within the limit below: a server that streams
// continuation lines without end.
class EIdReplyTooLong : public net::EIdException {
 public:
  EIdReplyTooLong() : net::EIdException("Reply too long.") {}
};

// Gives the next line of the connection, stripped of bytes of value 32 or
// less at both ends and never empty (the connection's ReadNonEmptyLine).
// Failures (time-out, closed connection) are raised from it.
using ReplyLineSource = std::function<std::string()>;

// The total size of the lines of one reply that ReadReplyLines accepts.
constexpr size_t kMaxReplyBytes = 4 * 1024 * 1024;

// Reads the raw lines of one reply. A first line whose fourth character is
// "-" opens a multi-line reply that ends with the line that starts with the
// same three characters and a space (letter case ignored), or with a line
// shorter than four characters; that line belongs to the reply. Raises
// EIdReplyTooLong when the lines add up to more than max_bytes.
std::vector<std::string> ReadReplyLines(const ReplyLineSource& next_line,
                                        size_t max_bytes = kMaxReplyBytes);

// ReadReplyLines, then ParseLines into reply. A failure while reading leaves
// reply as it was.
void ReadReply(const ReplyLineSource& next_line, TIdRFCReply& reply);

}  // namespace ftp
