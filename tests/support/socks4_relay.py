#!/usr/bin/python3
"""A SOCKS 4 and 4A proxy for the tests, relaying to loopback only.

Run with Debian's /usr/bin/python3. It listens on a loopback address, takes
any number of clients, and for each CONNECT request (SOCKS 4, or 4A with the
destination as a name) writes one line to the log file:

    CONNECT 4A <host> <port> <user id>

then connects to the destination and relays bytes both ways until either
side closes. A 4A name is never looked up: it must be a dotted loopback
address, so that no test asks a name server anything. A destination outside
127.0.0.0/8, or a user id other than --user (when given), is refused with
status 91.
"""

import argparse
import ipaddress
import socket
import struct
import sys

from relay_common import log, loopback, relay_both_ways, serve_forever


def read_exact(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def read_to_zero(sock, limit=256):
    data = b""
    while True:
        byte = read_exact(sock, 1)
        if byte == b"\0":
            return data
        data += byte
        if len(data) > limit:
            raise ConnectionError("field too long")


REFUSED = bytes([0, 91, 0, 0, 0, 0, 0, 0])


def connect_through(client, args):
    """Reads one request and connects to its destination; None, after the
    refusal is sent, when it may not be relayed."""
    head = read_exact(client, 8)
    version, command, port = head[0], head[1], struct.unpack("!H", head[2:4])[0]
    address = head[4:8]
    user = read_to_zero(client).decode("latin-1")
    socks4a = address[:3] == b"\0\0\0" and address[3] != 0
    host = read_to_zero(client).decode("latin-1") if socks4a else socket.inet_ntoa(address)
    log(args.log, "CONNECT %s %s %d %s" % ("4A" if socks4a else "4", host, port, user))
    try:
        allowed = ipaddress.IPv4Address(host).is_loopback
    except ValueError:
        allowed = False
    if version != 4 or command != 1 or not allowed or (args.user is not None and user != args.user):
        client.sendall(REFUSED)
        return None
    try:
        upstream = socket.create_connection((host, port), timeout=30)
    except OSError:
        client.sendall(REFUSED)
        return None
    upstream.settimeout(None)
    try:
        client.sendall(bytes([0, 90]) + struct.pack("!H", port) + socket.inet_aton(host))
    except OSError:
        upstream.close()
        raise
    return upstream


def serve(client, args):
    try:
        upstream = connect_through(client, args)
    except (OSError, ConnectionError):
        upstream = None
    if upstream is None:
        client.close()
        return
    relay_both_ways(client, upstream)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", type=loopback, default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--log", required=True, help="file that gets one line per request")
    parser.add_argument("--user", default=None, help="the only user id accepted")
    args = parser.parse_args()

    serve_forever(args.address, args.port, lambda client: serve(client, args))


if __name__ == "__main__":
    sys.exit(main())
