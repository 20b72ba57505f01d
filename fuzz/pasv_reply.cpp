// The PASV step of the FTP client against a server whose reply is the input
// (after one byte that chooses the size of the pieces it arrives in): the
// address and port it gives, or the failure it raises, are compared with a
// second reading of the PASV rules written here. Ports are computed without
// overflow; fields that make no port in 0 to 65535 must give -1.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fake_peer.h"
#include "ftp/ftp_client.h"
#include "fuzz_check.h"
#include "integer_reference.h"
#include "settings/integer_conversion.h"

namespace {

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }
std::string Strip(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsControlOrSpace(s[b])) ++b;
  while (e > b && IsControlOrSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// The text up to the next comma, which goes with it; all of it without one.
std::string Cut(std::string& text) {
  const size_t comma = text.find(',');  // a comma is never the second byte of a GBK character
  std::string field = text.substr(0, comma);
  text = comma == std::string::npos ? std::string() : text.substr(comma + 1);
  return field;
}

struct Expected {
  bool converts = false;  // both port fields are integers
  std::string address;
  __int128 port = 0;
};

Expected Reference(const std::string& first_line) {
  std::string line = Strip(first_line);
  const size_t open = line.find('('), close = line.find(')');
  if (open != std::string::npos && close != std::string::npos) {
    line = close > open ? line.substr(open + 1, close - open - 1) : std::string();
  } else if (line.rfind(' ') != std::string::npos) {
    line = line.substr(line.rfind(' ') + 1);
  }
  Expected e;
  for (int i = 0; i < 4; ++i) e.address += (i ? "." : "") + Cut(line);
  const fuzz::ReferenceInteger high = fuzz::ReferenceConvert(Cut(line), 32);
  const fuzz::ReferenceInteger low = fuzz::ReferenceConvert(Cut(line), 32);
  e.converts = high.valid && low.valid;
  e.port = high.value * 256 + low.value;
  if (e.port < 0 || e.port > 65535) e.port = -1;  // no port: the transport refuses it
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::FakePeer peer(reply, data[0] == 0 ? reply.size() + 1 : data[0]);
  ftp::TIdFTP client;
  client.SetIOHandler(&peer);
  std::string address = "unset";
  int32_t port = -12345;
  const std::string context = "reply '" + fuzz::Shown(reply) + "'";
  try {
    client.RequestPassive(address, port);
  } catch (const ftp::EIdProtocolReplyError& e) {
    FUZZ_CHECK(client.LastReply().NumericCode() != 227 && e.ReplyCode() == client.LastReply().NumericCode(), context);
    return 0;
  } catch (const settings::EConvertError&) {
    FUZZ_CHECK(client.LastReply().NumericCode() == 227, context);
    FUZZ_CHECK(!client.LastReply().Text().empty() && !Reference(client.LastReply().Text().front()).converts, context);
    return 0;
  } catch (const net::EIdException&) {
    // The reply did not come whole: the connection ended first.
    FUZZ_CHECK(peer.Consumed() == reply.size(), context);
    return 0;
  }
  FUZZ_CHECK(peer.sent == "PASV\r\n", context);
  FUZZ_CHECK(client.LastReply().NumericCode() == 227, context);
  const Expected expected = Reference(client.LastReply().Text().front());
  FUZZ_CHECK(expected.converts, context);
  FUZZ_CHECK(address == expected.address, context + " address '" + fuzz::Shown(address) + "'");
  FUZZ_CHECK(static_cast<__int128>(port) == expected.port, context + " port " + std::to_string(port));
  return 0;
}
