// Shared pieces of the FTP client tests: a client aimed at a scripted peer,
// the usual greeting and login steps, and a recorder of FTP statuses.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ftp/ftp_client.h"
#include "support/scripted_ftp_peer.h"

namespace ftp_test {

using Peer = test_support::ScriptedFtpPeer;
using Steps = std::vector<Peer::Step>;
using Lines = std::vector<std::string>;

// The scripts of the tests, joined in order.
inline Steps Join(std::initializer_list<Steps> parts) {
  Steps all;
  for (const Steps& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Greeting, USER and PASS, TYPE I and SYST, as Connect(true) sends them.
inline Steps LoginSteps() {
  return {Peer::Reply("220 ready"),     Peer::Expect("USER u"),     Peer::Reply("331 password"),
          Peer::Expect("PASS p"),       Peer::Reply("230 in"),      Peer::Expect("TYPE I"),
          Peer::Reply("200 type set"),  Peer::Expect("SYST"),       Peer::Reply("215 UNIX Type: L8")};
}
inline Lines LoginLines() { return {"USER u", "PASS p", "TYPE I", "SYST"}; }

// A client for the peer, as user "u" with password "p". Waits that would be
// unbounded end after 20 s, so a broken test fails instead of hanging.
inline void AimAt(ftp::TIdFTP& client, const Peer& peer) {
  client.Host = peer.Address();
  client.Port = peer.Port();
  client.Username = "u";
  client.Password = "p";
  client.IdleLimit = 20000;
}

// The FTP statuses (ftpTransfer, ftpReady, ftpAborted) a client reports.
struct StatusLog {
  std::vector<std::pair<net::TIdStatus, std::string>> entries;
  void Attach(ftp::TIdFTP& client) {
    client.OnStatus = [this](net::TIdComponent*, net::TIdStatus status, const std::string& text) {
      if (status == net::ftpTransfer || status == net::ftpReady || status == net::ftpAborted) {
        entries.emplace_back(status, text);
      }
    };
  }
};

inline const std::pair<net::TIdStatus, std::string> kStarting{net::ftpTransfer, "Starting FTP transfer"};
inline const std::pair<net::TIdStatus, std::string> kComplete{net::ftpReady, "Transfer complete"};
inline const std::pair<net::TIdStatus, std::string> kAborted{net::ftpAborted, "Transfer aborted"};

}  // namespace ftp_test
