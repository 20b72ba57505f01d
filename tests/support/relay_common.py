"""What the test proxies share: relaying bytes between two sockets, the
append-only log, the loopback-only address option, and the accept loop."""

import argparse
import ipaddress
import socket
import threading

_LOG_LOCK = threading.Lock()


def log(path, line):
    """Appends one line to the log file (whole lines, from any thread)."""
    with _LOG_LOCK, open(path, "a", encoding="latin-1") as out:
        out.write(line + "\n")


def shut(sock, how):
    try:
        sock.shutdown(how)
    except OSError:
        pass


def pipe(source, destination):
    """Copies until source ends, then passes the end on."""
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            destination.sendall(data)
    except OSError:
        pass
    shut(destination, socket.SHUT_WR)
    shut(source, socket.SHUT_RD)


def relay_both_ways(a, b):
    """Relays between the two until both directions have ended; closes both."""
    back = threading.Thread(target=pipe, args=(b, a), daemon=True)
    back.start()
    pipe(a, b)
    back.join()
    a.close()
    b.close()


def loopback(text):
    """An argparse type: a loopback address (127.0.0.0/8) only."""
    if not ipaddress.ip_address(text).is_loopback:
        raise argparse.ArgumentTypeError("only loopback addresses (127.0.0.0/8)")
    return text


def serve_forever(address, port, handle):
    """Listens on address:port and runs handle(client) on a thread a client."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(16)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=handle, args=(client,), daemon=True).start()
