// A client behind a home router, built from network namespaces for one test:
//
//   client namespace          router namespace              server namespace
//   10.216.1.2  ---- veth ----  10.216.1.1 | 10.216.2.1  ---- veth ----  10.216.2.2
//
// The router forwards from the client's side and masquerades there, so the
// server sees the router's address 10.216.2.1; of what comes from the
// server's side it forwards only the replies of connections the client
// opened, so a connection from the server to the client never arrives. The
// addresses exist only inside these namespaces.
//
//   test_support::NatNetwork nat;
//   test_support::PyFtpd server({..., .address = NatNetwork::kServerAddress,
//                                .network_namespace = nat.Server()});
//   {
//     test_support::InNetworkNamespace inside(nat.Client());
//     ... connect to NatNetwork::kServerAddress ...
//   }
//
// Needs root, iproute2 and nftables. The namespaces' names hold the test
// process's id; the constructor first removes those of processes that have
// ended (a test that crashed), and the destructor removes its own, whatever
// state they are in. A failed set-up raises std::runtime_error with the
// command and what it said, after removing what it made.
#pragma once

#include <string>
#include <vector>

namespace test_support {

class NatNetwork {
 public:
  static constexpr const char* kClientAddress = "10.216.1.2";
  static constexpr const char* kServerAddress = "10.216.2.2";

  NatNetwork();
  ~NatNetwork();
  NatNetwork(const NatNetwork&) = delete;
  NatNetwork& operator=(const NatNetwork&) = delete;

  // Names under /run/netns.
  const std::string& Client() const { return client_; }
  const std::string& Router() const { return router_; }
  const std::string& Server() const { return server_; }

 private:
  void Build();
  void Remove();

  std::string client_;
  std::string router_;
  std::string server_;
  std::vector<std::string> made_;
};

// Moves the calling thread into a network namespace for the object's life:
// the sockets it opens meanwhile, and the threads it starts, belong there.
// Raises std::runtime_error when it cannot.
class InNetworkNamespace {
 public:
  explicit InNetworkNamespace(const std::string& name);
  ~InNetworkNamespace();
  InNetworkNamespace(const InNetworkNamespace&) = delete;
  InNetworkNamespace& operator=(const InNetworkNamespace&) = delete;

 private:
  int original_ = -1;
};

}  // namespace test_support
