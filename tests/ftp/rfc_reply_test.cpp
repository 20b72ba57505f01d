#include "ftp/rfc_reply.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace ftp {
namespace {

// Lines as ReadNonEmptyLine gives them: stripped and never empty.
class LineFeed {
 public:
  explicit LineFeed(std::vector<std::string> raw) {
    for (std::string& line : raw) {
      size_t begin = 0;
      size_t end = line.size();
      while (begin < end && static_cast<unsigned char>(line[begin]) <= 32) ++begin;
      while (end > begin && static_cast<unsigned char>(line[end - 1]) <= 32) --end;
      if (end > begin) lines_.push_back(line.substr(begin, end - begin));
    }
  }
  ReplyLineSource Source() {
    return [this] {
      if (lines_.empty()) throw std::runtime_error("Connection Closed Gracefully.");
      std::string line = lines_.front();
      lines_.pop_front();
      return line;
    };
  }
  size_t Left() const { return lines_.size(); }

 private:
  std::deque<std::string> lines_;
};

TEST(RfcReply, ParseLinesFollowsTheExamples) {
  struct Case {
    std::vector<std::string> lines;
    int32_t code;
    std::string text_code;
    std::vector<std::string> text;
  };
  const std::vector<Case> cases = {
      {{"220 Service ready"}, 220, "220", {"Service ready"}},
      {{"230-Welcome", "230 Logged in"}, 230, "230", {"Welcome", "Logged in"}},
      {{"226"}, 226, "226", {""}},
      {{"+OK ready"}, 0, "+OK", {"ready"}},
      {{"5000 text"}, 5000, "5000", {" text"}},
      {{"220-first", "continuation without a code", "220 end"}, 220, "220",
       {"first", "inuation without a code", "end"}},
      {{"abc-x", "abc y"}, 0, "abc", {"x", "y"}},
      {{" 150 x"}, 150, "150", {" x"}},  // the code is trimmed out of the first four characters
      {{"1"}, 1, "1", {""}},
      {{"-12 negative"}, -12, "-12", {"negative"}},
      {{"99999 wide"}, 9999, "9999", {"9 wide"}},
      {{"    blank code"}, 0, "", {"blank code"}},
      {{}, 0, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.empty() ? std::string("(none)") : c.lines.front());
    TIdRFCReply reply;
    reply.SetNumericCode(777);
    reply.Text().push_back("old");
    reply.ParseLines(c.lines);
    EXPECT_EQ(reply.NumericCode(), c.code);
    EXPECT_EQ(reply.TextCode(), c.text_code);
    EXPECT_EQ(reply.Text(), c.text);
  }
}

TEST(RfcReply, PropertyRules) {
  TIdRFCReply reply;
  reply.SetTextCode("250");
  EXPECT_EQ(reply.NumericCode(), 250);
  reply.SetTextCode("");
  EXPECT_EQ(reply.NumericCode(), 250) << "an empty text code leaves the number";
  EXPECT_EQ(reply.TextCode(), "");
  reply.SetTextCode("2x0");
  EXPECT_EQ(reply.NumericCode(), 0);
  reply.SetTextCode("$10");
  EXPECT_EQ(reply.NumericCode(), 0) << "decimal only";
  reply.SetTextCode("99999999999");
  EXPECT_EQ(reply.NumericCode(), 0) << "out of range";

  reply.SetTextCode("abc");
  reply.SetNumericCode(0);
  EXPECT_EQ(reply.TextCode(), "abc") << "0 keeps the text code";
  reply.SetNumericCode(-5);
  EXPECT_EQ(reply.NumericCode(), -5);
  EXPECT_EQ(reply.TextCode(), "abc");
  reply.SetNumericCode(421);
  EXPECT_EQ(reply.TextCode(), "421");

  std::vector<std::string> lines = {"a", "b"};
  reply.SetText(lines);
  lines.push_back("c");
  EXPECT_EQ(reply.Text().size(), 2u) << "the record keeps its own copy";

  reply.EmptyReply();
  EXPECT_EQ(reply.NumericCode(), 0);
  EXPECT_TRUE(reply.Text().empty());
  EXPECT_EQ(reply.TextCode(), "");
}

TEST(RfcReply, CopyValuesFromTakesFieldsAsTheyStand) {
  TIdRFCReply source;
  source.SetTextCode("+OK");  // code 0 with a text code: not reachable through the setters alone
  source.SetText({"x", "y"});
  TIdRFCReply target;
  target.SetNumericCode(500);
  target.SetText({"old"});
  target.CopyValuesFrom(source);
  EXPECT_EQ(target.NumericCode(), 0);
  EXPECT_EQ(target.TextCode(), "+OK");
  EXPECT_EQ(target.Text(), (std::vector<std::string>{"x", "y"}));
  target.CopyValuesFrom(target);
  EXPECT_EQ(target.TextCode(), "+OK");
}

TEST(RfcReply, ProtocolErrorCarriesCodeAndTextLines) {
  TIdRFCReply reply;
  reply.ParseLines({"550-No such file", "550 Gone"});
  const EIdProtocolReplyError error(reply);
  EXPECT_EQ(error.ReplyCode(), 550);
  EXPECT_STREQ(error.what(), "No such file\r\nGone\r\n");
  const net::EIdException& base = error;
  EXPECT_STREQ(base.what(), "No such file\r\nGone\r\n");

  TIdRFCReply bare;
  bare.ParseLines({"421"});
  EXPECT_STREQ(EIdProtocolReplyError(bare).what(), "\r\n");
}

TEST(ReadReply, FormsOneReplyFromTheLinesThatArrive) {
  struct Case {
    const char* name;
    std::vector<std::string> arriving;
    std::vector<std::string> reply_lines;
    size_t left;  // lines that belong to the next reply
  };
  const std::vector<Case> cases = {
      {"single line", {"220 Service ready", "next"}, {"220 Service ready"}, 1},
      {"empty lines are skipped, not kept", {"220-Hello", "", "   ", "220 Ready"}, {"220-Hello", "220 Ready"}, 0},
      {"a short continuation ends the reply",
       {"230-Welcome", "ok", "230 Done"},
       {"230-Welcome", "ok"},
       1},
      {"leading blanks before the code", {"   150 Opening", "226 Done"}, {"150 Opening"}, 1},
      {"terminator ignores letter case", {"ABC-x", "abc y", "after"}, {"ABC-x", "abc y"}, 1},
      {"a hyphen after the code does not end it",
       {"211-Features", "211-still going", " MDTM", "211 End"},
       {"211-Features", "211-still going", "MDTM", "211 End"},
       0},
      {"another code does not end it", {"220-a", "230 b", "220 c"}, {"220-a", "230 b", "220 c"}, 0},
      {"a three-character first line", {"226", "x"}, {"226"}, 1},
      {"no hyphen at the fourth place", {"220 -x", "y"}, {"220 -x"}, 1},
      {"terminator needs the space", {"220-a", "220-b", "220x", "220 c"}, {"220-a", "220-b", "220x", "220 c"}, 0},
      {"a continuation of exactly three characters", {"220-a", "220"}, {"220-a", "220"}, 0},
      {"CR and tabs are stripped", {"220-a\r", "\t220 b\r"}, {"220-a", "220 b"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineFeed feed(c.arriving);
    EXPECT_EQ(ReadReplyLines(feed.Source()), c.reply_lines);
    EXPECT_EQ(feed.Left(), c.left);
  }
}

TEST(ReadReply, TheNextReadGivesTheNextReply) {
  LineFeed feed({"230-Welcome", "ok", "230 Done"});
  TIdRFCReply reply;
  ReadReply(feed.Source(), reply);
  EXPECT_EQ(reply.NumericCode(), 230);
  EXPECT_EQ(reply.Text(), (std::vector<std::string>{"Welcome", ""}));
  ReadReply(feed.Source(), reply);
  EXPECT_EQ(reply.NumericCode(), 230);
  EXPECT_EQ(reply.Text(), (std::vector<std::string>{"Done"}));
}

TEST(ReadReply, AFailureWhileReadingKeepsThePreviousReply) {
  TIdRFCReply reply;
  reply.ParseLines({"200 previous"});
  LineFeed feed({"220-never", "220-finished"});
  EXPECT_THROW(ReadReply(feed.Source(), reply), std::runtime_error);
  EXPECT_EQ(reply.NumericCode(), 200);
  EXPECT_EQ(reply.Text(), (std::vector<std::string>{"previous"}));
}

TEST(ReadReply, AReplyWithoutEndIsCutOff) {
  // A server that streams continuation lines for ever.
  size_t served = 0;
  const ReplyLineSource endless = [&served] {
    return ++served == 1 ? std::string("220-start") : std::string(1000, 'x');
  };
  EXPECT_THROW(ReadReplyLines(endless, 1 << 20), EIdReplyTooLong);
  EXPECT_LT(served, 1100u);

  // A reply just within the limit is read.
  LineFeed feed({"220-" + std::string(96, 'a'), "220 " + std::string(96, 'b')});
  EXPECT_EQ(ReadReplyLines(feed.Source(), 200).size(), 2u);
}

TEST(ReadReply, OddBytesPassUntouched) {
  const std::string with_nul("220 a\0b\xff", 8);
  LineFeed feed({with_nul});
  TIdRFCReply reply;
  ReadReply(feed.Source(), reply);
  EXPECT_EQ(reply.NumericCode(), 220);
  EXPECT_EQ(reply.Text().front(), std::string("a\0b\xff", 4));
}

}  // namespace
}  // namespace ftp
