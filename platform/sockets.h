// The operating system's IPv4 stream sockets. Every call gives -1 on failure
// and leaves the reason for LastError() in the Windows Sockets numbering that
// the transport's messages are keyed by (10061 for a refused connection,
// 11001 for a host that cannot be found, ...). Sends never raise SIGPIPE.
//
// Addresses are 32-bit values in network byte order, ports are in host order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::sockets {

// The error number of the calling thread's last failed call.
int LastError();
// Overwrites it; lets a caller keep its own failure across other calls.
void SetLastError(int error);
// The Windows Sockets number for a native errno value. An errno without such
// a number is given unchanged (it is far below 10000, so it names no entry of
// the transport's message table).
int MapErrno(int native_error);

int OpenSocket(int family, int type, int protocol);
int Bind(int socket, uint32_t address, int port);
int Listen(int socket, int backlog);
int Accept(int socket, uint32_t& peer_address, int& peer_port);

// Connects a blocking socket. Unlike the system's connect() it ends at once,
// with error 10009 (bad handle), when another thread closes the socket with
// Close() while the connect is pending; the socket is then closed by the
// connecting thread as it leaves, so its number cannot be reused under it.
int Connect(int socket, uint32_t address, int port);
// Registers a socket for a Connect that another thread is about to make, so
// that a Close() before that thread gets there is deferred to it as well.
// Undone by that Connect, or by CancelConnect when the thread never started
// (which then closes the socket if a Close() came meanwhile).
int PrepareConnect(int socket);
void CancelConnect(int socket);

int Send(int socket, const void* data, size_t length);
// Sends only what fits now, without waiting even on a blocking socket: -1
// with 10035 (would block) when nothing does.
int SendNow(int socket, const void* data, size_t length);
int Receive(int socket, void* data, size_t length);
// Takes only what has already arrived, without waiting even on a blocking
// socket: -1 with 10035 (would block) when nothing has.
int ReceiveNow(int socket, void* data, size_t length);
int Shutdown(int socket, int how);
int Close(int socket);
int SetOption(int socket, int level, int option, const void* value, int length);
// Lets a connected TCP socket's receive window start at about bytes instead
// of the system's small initial one, leaving the kernel's own growth of the
// buffer on; best effort, nothing is reported. See the definition for why.
void WidenReceiveWindow(int socket, int bytes);
int LocalAddress(int socket, uint32_t& address, int& port);
int PeerAddress(int socket, uint32_t& address, int& port);

// IPv4 name lookup (the first address listed); 11001 on any failure.
int LookupHost(const std::string& name, uint32_t& address);
int HostName(std::string& name);

// Waits until one of the sockets is ready: readable, writable, or with an
// exceptional condition; timeout in milliseconds, negative waits without
// limit. Each given list is rewritten to its ready sockets. Gives the number
// of ready sockets, 0 on time-out, -1 on failure.
int Select(std::vector<int>* read, std::vector<int>* write, std::vector<int>* error, int timeout_ms);

}  // namespace platform::sockets
