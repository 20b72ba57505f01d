#!/usr/bin/python3
"""A real FTP server for the tests: pyftpdlib serving one folder on loopback.

Run with Debian's /usr/bin/python3 (python3-pyftpdlib). Once the server
listens it prints one line "PORT <number>" on stdout (the bound port, also
when --port is 0) and then serves until it is terminated.

Names pass byte for byte: pyftpdlib decodes command lines as UTF-8, and with
unicode_errors "surrogateescape" the GBK bytes of a name survive the round
trip to the file system and back into listings.
"""

import argparse
import ipaddress
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def port_range(text):
    low, _, high = text.partition("-")
    low, high = int(low), int(high or low)
    if not 1024 <= low <= high <= 65535:
        raise argparse.ArgumentTypeError("expected LOW-HIGH within 1024-65535")
    return list(range(low, high + 1))


def loopback(text):
    if not ipaddress.ip_address(text).is_loopback:
        raise argparse.ArgumentTypeError("only loopback addresses (127.0.0.0/8) are served")
    return text


def private(text):
    if not ipaddress.ip_address(text).is_private:
        raise argparse.ArgumentTypeError("only private addresses are served")
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--address", default="127.0.0.1", help="loopback address to listen on")
    parser.add_argument("--in-namespace", action="store_true",
                        help="the server runs in a network namespace that the test made: --address may be any "
                             "private address there")
    parser.add_argument("--port", type=int, default=0, help="port to listen on; 0 picks a free one")
    parser.add_argument("--user", default="user", help="login name")
    parser.add_argument("--password", default="password", help="login password")
    parser.add_argument("--perm", default="elr", help="pyftpdlib permissions of the user (default: elr, read only)")
    parser.add_argument("--passive-ports", type=port_range, default=None, metavar="LOW-HIGH",
                        help="ports for passive data connections (default: any free port)")
    parser.add_argument("--refuse-size", action="store_true",
                        help="answer every SIZE with 550, as a server that does not report sizes")
    parser.add_argument("--permit-foreign", action="store_true",
                        help="let PORT name an address other than the client's, as behind a router that "
                             "masquerades (the server then tries to connect there)")
    parser.add_argument("--tls-cert", default=None, metavar="PEM",
                        help="explicit TLS (RFC 4217) with this certificate, required on control and data connections")
    parser.add_argument("--tls-key", default=None, metavar="PEM", help="the certificate's private key")
    parser.add_argument("--tls12", action="store_true", help="offer TLS 1.2 at most")
    parser.add_argument("--verbose", action="store_true", help="log every command and reply to stderr")
    args = parser.parse_args()
    try:
        (private if args.in_namespace else loopback)(args.address)
    except argparse.ArgumentTypeError as error:
        parser.error("--address: %s" % error)

    logging.basicConfig(level=logging.DEBUG if args.verbose else logging.ERROR, stream=sys.stderr)
    logging.getLogger("pyftpdlib").setLevel(logging.DEBUG if args.verbose else logging.ERROR)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm=args.perm)

    base = FTPHandler
    if args.tls_cert:
        from OpenSSL import SSL
        from pyftpdlib.handlers import TLS_FTPHandler
        base = TLS_FTPHandler
        base.certfile = args.tls_cert
        base.keyfile = args.tls_key
        base.tls_control_required = True
        base.tls_data_required = True
        if args.tls12:
            base.ssl_options |= SSL.OP_NO_TLSv1_3

    class Handler(base):
        if args.refuse_size:
            def ftp_SIZE(self, path):
                self.respond("550 SIZE not available.")

    Handler.authorizer = authorizer
    Handler.unicode_errors = "surrogateescape"
    Handler.passive_ports = args.passive_ports
    # Active mode: pyftpdlib connects back only to the address the control
    # connection comes from, which on loopback is what PORT names. Data ports
    # above 1023 are allowed by default; foreign addresses stay refused unless
    # --permit-foreign.
    Handler.permit_foreign_addresses = args.permit_foreign

    server = FTPServer((args.address, args.port), Handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
