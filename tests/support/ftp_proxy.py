#!/usr/bin/python3
"""An FTP proxy for the tests: one login scheme in front of a real FTP server.

Run with Debian's /usr/bin/python3; everything stays on loopback. Each
client gets "220" and must log in the way --scheme says (the proxy's own
login first, when --proxy-user is given):

    user_site    USER user@host, then PASS for the server
    site         SITE host, then USER and PASS for the server
    open         OPEN host, then USER and PASS for the server
    user_pass    USER user@proxyuser@host, PASS pass@proxypassword
                 (no separate proxy login)
    transparent  USER and PASS for the server

The host named must be --server-host; the proxy then connects to it on
--server-port, logs in with what the client gave, and from then on passes
every command line to the server and every reply back. Data connections
pass through the proxy too: a 227 or 229 reply is answered with a port of
the proxy's own, and a PORT line goes to the server naming one. The log file
gets each line the client sent during the login ("C: <line>"), "LOGIN" when
the session passes to the server, "REFUSED <why>" when it does not, and
"DATA passive" or "DATA active" for each data connection relayed.
"""

import argparse
import ipaddress
import re
import socket
import sys
import threading

from relay_common import log, loopback, relay_both_ways, serve_forever, shut

ACCEPT_TIMEOUT = 60


class Refused(Exception):
    pass


class Lines:
    """Reads CR LF lines from a socket."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def line(self):
        while b"\n" not in self.buffer:
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("closed")
            self.buffer += data
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line.rstrip(b"\r").decode("latin-1")

    def reply(self):
        """One whole reply, multi-line or not, as its lines."""
        lines = [self.line()]
        first = lines[0]
        if len(first) >= 4 and first[3] == "-":
            while not (len(lines[-1]) >= 4 and lines[-1][:3] == first[:3] and lines[-1][3] == " "):
                lines.append(self.line())
        return lines


def send_lines(sock, lines):
    sock.sendall("".join(line + "\r\n" for line in lines).encode("latin-1"))


class Session:
    def __init__(self, client, args):
        self.client = client
        self.args = args
        self.from_client = Lines(client)
        self.server = None
        self.from_server = None

    def log(self, line):
        log(self.args.log, line)

    def read_client(self):
        line = self.from_client.line()
        self.log("C: " + line)
        return line

    def reply(self, line):
        send_lines(self.client, [line])

    def connect_from_proxy(self, host, port):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # From the proxy's own address: the server holds data connections to
        # the address its control connection comes from.
        sock.bind((self.args.address, 0))
        sock.settimeout(30)
        sock.connect((host, port))
        sock.settimeout(None)
        return sock

    def check_host(self, host):
        if host != self.args.server_host:
            raise Refused("unknown server " + host)

    def open_server(self, host):
        self.check_host(host)
        self.server = self.connect_from_proxy(self.args.server_host, self.args.server_port)
        self.from_server = Lines(self.server)
        greeting = self.from_server.reply()
        if not greeting[-1].startswith("220"):
            raise Refused("server greeting " + greeting[-1])

    def server_command(self, line):
        """Sends a line to the server and passes its reply to the client."""
        send_lines(self.server, [line])
        reply = self.from_server.reply()
        send_lines(self.client, reply)
        return reply[-1][:3]

    def expect(self, prefix):
        line = self.read_client()
        if not line.startswith(prefix):
            raise Refused("expected " + prefix.strip() + ", got " + line)
        return line[len(prefix):]

    def proxy_login(self):
        if self.args.proxy_user is None:
            return
        if self.expect("USER ") != self.args.proxy_user:
            raise Refused("wrong proxy user")
        self.reply("331 Proxy password, please.")
        if self.expect("PASS ") != (self.args.proxy_password or ""):
            raise Refused("wrong proxy password")
        self.reply("230 Proxy login accepted.")

    def login(self):
        scheme = self.args.scheme
        if scheme == "user_site":
            self.proxy_login()
            user, _, host = self.expect("USER ").rpartition("@")
            self.open_server(host)
            self.server_command("USER " + user)
        elif scheme in ("site", "open"):
            self.proxy_login()
            self.open_server(self.expect(scheme.upper() + " "))
            self.reply("200 Connected to the server.")
        elif scheme == "user_pass":
            parts = self.expect("USER ").rsplit("@", 2)
            if len(parts) != 3 or parts[1] != (self.args.proxy_user or ""):
                raise Refused("wrong proxy user")
            self.open_server(parts[2])
            if self.server_command("USER " + parts[0]) == "331":
                password = self.expect("PASS ")
                if self.args.proxy_password:
                    password, _, proxy_password = password.rpartition("@")
                    if proxy_password != self.args.proxy_password:
                        raise Refused("wrong proxy password")
                self.server_command("PASS " + password)
        elif scheme == "transparent":
            self.proxy_login()
            self.open_server(self.args.server_host)
        self.log("LOGIN")

    # ---- after the login ----

    def listener(self):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.bind((self.args.address, 0))
        sock.listen(1)
        sock.settimeout(ACCEPT_TIMEOUT)
        return sock, sock.getsockname()[1]

    def passive_data(self, listener, server_port):
        try:
            client, _ = listener.accept()
            client.settimeout(None)
            server = self.connect_from_proxy(self.args.server_host, server_port)
        except OSError:
            return
        finally:
            listener.close()
        self.log("DATA passive")
        relay_both_ways(client, server)

    def active_data(self, listener, client_address, client_port):
        try:
            server, _ = listener.accept()
            server.settimeout(None)
            client = self.connect_from_proxy(client_address, client_port)
        except OSError:
            return
        finally:
            listener.close()
        self.log("DATA active")
        relay_both_ways(server, client)

    def rewrite_reply(self, line):
        """A 227 or 229 reply becomes one that names a port of the proxy."""
        if line.startswith("227 "):
            numbers = re.search(r"(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)", line)
            if numbers is None:
                return line
            server_port = int(numbers.group(5)) * 256 + int(numbers.group(6))
        elif line.startswith("229 "):
            port = re.search(r"\(\|\|\|(\d+)\|\)", line)
            if port is None:
                return line
            server_port = int(port.group(1))
        else:
            return line
        listener, port = self.listener()
        threading.Thread(target=self.passive_data, args=(listener, server_port), daemon=True).start()
        if line.startswith("229 "):
            return "229 Entering Extended Passive Mode (|||%d|)" % port
        return "227 Entering Passive Mode (%s,%d,%d)" % (self.args.address.replace(".", ","), port // 256, port % 256)

    def rewrite_command(self, line):
        """A PORT line becomes one that names a port of the proxy."""
        if not line.upper().startswith("PORT "):
            return line
        fields = line[5:].split(",")
        if len(fields) != 6 or not all(f.isdigit() for f in fields):
            return line
        client_address = ".".join(fields[:4])
        if not ipaddress.IPv4Address(client_address).is_loopback:
            return "PORT 0,0,0,0,0,0"
        listener, port = self.listener()
        threading.Thread(target=self.active_data,
                         args=(listener, client_address, int(fields[4]) * 256 + int(fields[5])),
                         daemon=True).start()
        return "PORT %s,%d,%d" % (self.args.address.replace(".", ","), port // 256, port % 256)

    @staticmethod
    def forward(lines, destination, rewrite):
        """Passes lines on, each as rewrite makes it, until they end."""
        try:
            while True:
                send_lines(destination, [rewrite(lines.line())])
        except (OSError, ConnectionError):
            pass
        shut(destination, socket.SHUT_WR)

    def run(self):
        try:
            self.reply("220 Test FTP proxy ready.")
            self.login()
        except Refused as why:
            self.log("REFUSED " + str(why))
            try:
                self.reply("530 " + str(why))
            except OSError:
                pass
            self.close()
            return
        except (OSError, ConnectionError):
            # A client that went away (or a probe that only connected).
            self.close()
            return
        replies = threading.Thread(target=self.forward, args=(self.from_server, self.client, self.rewrite_reply),
                                   daemon=True)
        replies.start()
        self.forward(self.from_client, self.server, self.rewrite_command)
        replies.join()
        self.close()

    def close(self):
        for sock in (self.client, self.server):
            if sock is not None:
                sock.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", type=loopback, default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--scheme", required=True, choices=["user_site", "site", "open", "user_pass", "transparent"])
    parser.add_argument("--server-host", type=loopback, required=True)
    parser.add_argument("--server-port", type=int, default=21)
    parser.add_argument("--proxy-user", default=None)
    parser.add_argument("--proxy-password", default=None)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    serve_forever(args.address, args.port, lambda client: Session(client, args).run())


if __name__ == "__main__":
    sys.exit(main())
