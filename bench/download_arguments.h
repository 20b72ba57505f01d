// The command line the download benchmarks share:
//   PROGRAM HOST PORT REMOTE LOCAL [--passive] [--user NAME] [--password WORD]
//           [--tls] [--ca-file PEM] [--fingerprint SHA256]
// HOST must be a loopback address; the benchmarks never reach elsewhere.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ftp/ftp_client.h"

namespace bench {

// Sets the client's server, login and mode from the command line; gives false
// (after printing why) when the arguments cannot be used.
inline bool ApplyDownloadArguments(int argc, char** argv, ftp::TIdFTP& client, const std::string& default_password) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: %s HOST PORT REMOTE LOCAL [--passive] [--user NAME] [--password WORD] [--tls] "
                 "[--ca-file PEM] [--fingerprint SHA256]\n",
                 argv[0]);
    return false;
  }
  const std::string host = argv[1];
  if (host.rfind("127.", 0) != 0) {
    std::fprintf(stderr, "only loopback addresses (127.0.0.0/8)\n");
    return false;
  }
  client.Host = host;
  client.Port = std::atoi(argv[2]);
  client.Username = "anonymous";
  client.Password = default_password;
  for (int i = 5; i < argc; ++i) {
    if (std::strcmp(argv[i], "--passive") == 0) {
      // As the updater's passive=1: EPSV first, PASV when the server does
      // not know it.
      client.Passive = true;
      client.ExtendedPassive = true;
    } else if (std::strcmp(argv[i], "--user") == 0 && i + 1 < argc) {
      client.Username = argv[++i];
    } else if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc) {
      client.Password = argv[++i];
    } else if (std::strcmp(argv[i], "--tls") == 0) {
      client.UseTLS = true;
    } else if (std::strcmp(argv[i], "--ca-file") == 0 && i + 1 < argc) {
      client.TLSOptions.CAFile = argv[++i];
    } else if (std::strcmp(argv[i], "--fingerprint") == 0 && i + 1 < argc) {
      client.TLSOptions.Fingerprint = argv[++i];
    }
  }
  return true;
}

}  // namespace bench
