// The base classes of the transport's and the FTP client's failures. Each
// class of failure is raised with its fixed English message.
#pragma once

#include <stdexcept>
#include <string>

namespace net {

class EIdException : public std::runtime_error {
 public:
  explicit EIdException(const std::string& message) : std::runtime_error(message) {}
};

// Expected ends rather than faults (a peer that closed the connection).
class EIdSilentException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdSocketHandleError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdTCPConnectionError : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdSocksError : public EIdException {
 public:
  using EIdException::EIdException;
};

}  // namespace net
