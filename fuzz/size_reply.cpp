// QuerySize against a server whose reply to SIZE is the input (after one
// byte that chooses the size of the pieces it arrives in): the size it gives
// is compared with a second reading of the rule written here. Nothing but a
// connection that ends before the reply may raise.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fake_peer.h"
#include "ftp/ftp_client.h"
#include "fuzz_check.h"
#include "integer_reference.h"

namespace {

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }

int32_t Reference(const ftp::TIdRFCReply& reply) {
  if (reply.NumericCode() != 213) return -1;
  std::string text;
  for (const std::string& line : reply.Text()) text += line + "\r\n";
  size_t b = 0, e = text.size();
  while (b < e && IsControlOrSpace(text[b])) ++b;
  while (e > b && IsControlOrSpace(text[e - 1])) --e;
  text = text.substr(b, e - b);
  const size_t blank = text.find(' ');
  if (blank != std::string::npos) text.erase(0, blank + 1);
  for (char c : text) {
    if (c == '$' || c == 'x' || c == 'X') return -1;  // sizes are decimal
  }
  return fuzz::ReferenceInt32Def(text, -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::FakePeer peer(reply, data[0] == 0 ? reply.size() + 1 : data[0]);
  ftp::TIdFTP client;
  client.SetIOHandler(&peer);
  const std::string context = "reply '" + fuzz::Shown(reply) + "'";
  int32_t got = 0;
  try {
    got = client.QuerySize("Bin/main.exe");
  } catch (const net::EIdException&) {
    FUZZ_CHECK(peer.Consumed() == reply.size(), context);  // only a reply that never came whole
    return 0;
  }
  FUZZ_CHECK(peer.sent == "SIZE Bin/main.exe\r\n", context);
  FUZZ_CHECK(got == Reference(client.LastReply()), context + " gave " + std::to_string(got));
  return 0;
}
