// The base classes of the transport's and the FTP client's failures, and the
// failures of the socket layer and the TCP connection. Each class of failure
// is raised with its fixed English message.
#pragma once

#include <cstdint>
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

// Socket layer.

// A failed socket call; the message is "Socket Error # <number>" CR LF and
// the number's text.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int32_t error, const std::string& message) : EIdException(message), LastError(error) {}
  int32_t LastError;
};

class EIdInvalidSocket : public EIdException {
 public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};

class EIdCouldNotBindSocket : public EIdSocketHandleError {
 public:
  EIdCouldNotBindSocket() : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};

class EIdInvalidPortRange : public EIdSocketHandleError {
 public:
  EIdInvalidPortRange(int32_t min, int32_t max)
      : EIdSocketHandleError("Invalid Port Range (" + std::to_string(min) + " - " + std::to_string(max) + ")") {}
};

class EIdCanNotBindPortInRange : public EIdSocketHandleError {
 public:
  EIdCanNotBindPortInRange(int32_t min, int32_t max)
      : EIdSocketHandleError("Can not bind in port range (" + std::to_string(min) + " - " + std::to_string(max) +
                             ")") {}
};

class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};

class EIdStackInitializationFailed : public EIdStackError {
 public:
  EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
};

class EIdConnClosedGracefully : public EIdSilentException {
 public:
  EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
};

// TCP connection.

class EIdAlreadyConnected : public EIdException {
 public:
  EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdConnectTimeout : public EIdException {
 public:
  EIdConnectTimeout() : EIdException("Connect timed out.") {}
};

// A connect under a time-out failed; carries the connect thread's message.
class EIdConnectException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdClosedSocket : public EIdException {
 public:
  EIdClosedSocket() : EIdException("Disconnected.") {}
};

// Buffered I/O.

class EIdReadTimeout : public EIdException {
 public:
  EIdReadTimeout() : EIdException("Read Timeout") {}
};

class EIdNotConnected : public EIdTCPConnectionError {
 public:
  EIdNotConnected() : EIdTCPConnectionError("Not Connected") {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdException {
 public:
  EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

class EIdNotEnoughDataInBuffer : public EIdTCPConnectionError {
 public:
  EIdNotEnoughDataInBuffer() : EIdTCPConnectionError("Not enough data in buffer.") {}
};

class EIdNoDataToRead : public EIdTCPConnectionError {
 public:
  EIdNoDataToRead() : EIdTCPConnectionError("No data to read.") {}
};

}  // namespace net
