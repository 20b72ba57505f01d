// The EPSV step of the FTP client against a server whose reply is the input
// (after one byte that chooses the size of the pieces it arrives in): the
// port it gives, the refusal it falls back on, or the failure it raises, are
// compared with a second reading of the rule written here. A 229 reply gives
// a port only in the form "(<d><d><d>port<d>)", <d> a printable byte that is
// no digit, the port 1 to 65535 in at most five digits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fake_peer.h"
#include "ftp/ftp_client.h"
#include "fuzz_check.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int32_t Reference(const std::string& line) {
  const size_t open = line.find('(');
  if (open == std::string::npos) return -1;
  const std::string rest = line.substr(open + 1);
  if (rest.size() < 6) return -1;
  const char d = rest[0];
  if (d <= ' ' || d > '~' || IsDigit(d) || rest.compare(0, 3, std::string(3, d)) != 0) return -1;
  const size_t end = rest.find_first_not_of("0123456789", 3);
  if (end == std::string::npos || end == 3 || end - 3 > 5) return -1;
  if (rest[end] != d || end + 1 >= rest.size() || rest[end + 1] != ')') return -1;
  const long port = std::stol(rest.substr(3, end - 3));
  return port >= 1 && port <= 65535 ? static_cast<int32_t>(port) : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::FakePeer peer(reply, data[0] == 0 ? reply.size() + 1 : data[0]);
  ftp::TIdFTP client;
  client.SetIOHandler(&peer);
  int32_t port = -12345;
  const std::string context = "reply '" + fuzz::Shown(reply) + "'";
  bool accepted = false;
  try {
    accepted = client.RequestExtendedPassive(port);
  } catch (const ftp::EIdProtocolReplyError& e) {
    const int code = client.LastReply().NumericCode();
    FUZZ_CHECK(code != 229 && code != 500 && code != 502 && e.ReplyCode() == code, context);
    FUZZ_CHECK(!client.ExtendedPassiveRefused(), context);
    return 0;
  } catch (const ftp::EIdFTPBadExtendedPassiveReply&) {
    FUZZ_CHECK(client.LastReply().NumericCode() == 229, context);
    const std::string line = client.LastReply().Text().empty() ? std::string() : client.LastReply().Text().front();
    FUZZ_CHECK(Reference(line) == -1, context);
    FUZZ_CHECK(!client.ExtendedPassiveRefused(), context);
    return 0;
  } catch (const net::EIdException&) {
    // The reply did not come whole: the connection ended first.
    FUZZ_CHECK(peer.Consumed() == reply.size(), context);
    return 0;
  }
  FUZZ_CHECK(peer.sent == "EPSV\r\n", context);
  const int code = client.LastReply().NumericCode();
  if (!accepted) {
    FUZZ_CHECK(code == 500 || code == 502, context);
    FUZZ_CHECK(client.ExtendedPassiveRefused(), context);
    return 0;
  }
  FUZZ_CHECK(code == 229, context);
  FUZZ_CHECK(port == Reference(client.LastReply().Text().front()), context + " port " + std::to_string(port));
  FUZZ_CHECK(port >= 1 && port <= 65535, context);
  return 0;
}
