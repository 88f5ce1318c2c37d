#!/usr/bin/env python3
# tests/proxy/relay.py
# The proxy tests' scripted SOCKS server and echo servers, run inside the
# tests' private network namespace.
#   relay.py DIR ECHO_PORT DIRECT_ADDRESS RELAY_PORT:MODE...
# Every relay port speaks SOCKS 4 and SOCKS 5 and logs each request it is
# given to DIR/relay.log as "PORT VERSION ADDRESS:PORT"; its mode says what it
# then does:
#   open     grants every CONNECT and joins it to the echo server on
#            127.0.0.1:ECHO_PORT, whatever the requested destination
#   login    the same, SOCKS 5 only, after the user name "relay-user" with the
#            password "relay-pass" (RFC 1929)
#   refuse   refuses every CONNECT
#   silent   reads the greeting and never answers
# A second echo server listens on DIRECT_ADDRESS:ECHO_PORT and logs each
# connection it accepts to DIR/direct.log: the place a direct connect that
# should have been proxied, or blocked, would reach. DIR/ready appears when
# everything listens.
import os
import socket
import socketserver
import sys
import threading

USER, PASSWORD = b"relay-user", b"relay-pass"
lock = threading.Lock()


def log(directory, name, line):
    with lock, open(os.path.join(directory, name), "a") as f:
        f.write(line + "\n")


def read_exact(s, n):
    data = b""
    while len(data) < n:
        chunk = s.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def make_relay(directory, port, mode, echo_port):
    class Relay(socketserver.BaseRequestHandler):
        def handle(self):
            s = self.request
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            try:
                self.negotiate(s)
            except (OSError, ConnectionError):
                pass

        def negotiate(self, s):
            version = read_exact(s, 1)[0]
            if mode == "silent":
                threading.Event().wait()
            if version == 4:
                head = read_exact(s, 7)
                while read_exact(s, 1) != b"\x00":  # the user id
                    pass
                target = "%d.%d.%d.%d:%d" % (*head[3:7], head[1] << 8 | head[2])
                log(directory, "relay.log", "%d socks4 %s" % (port, target))
                if mode != "open":
                    s.sendall(b"\x00\x5b" + b"\x00" * 6)
                    return
                s.sendall(b"\x00\x5a" + b"\x00" * 6)
            else:
                methods = read_exact(s, read_exact(s, 1)[0])
                wanted = 2 if mode == "login" else 0
                if wanted not in methods:
                    s.sendall(b"\x05\xff")
                    return
                s.sendall(bytes([5, wanted]))
                if wanted == 2:
                    read_exact(s, 1)
                    user = read_exact(s, read_exact(s, 1)[0])
                    password = read_exact(s, read_exact(s, 1)[0])
                    if (user, password) != (USER, PASSWORD):
                        s.sendall(b"\x01\x01")
                        return
                    s.sendall(b"\x01\x00")
                request = read_exact(s, 4)
                if request[3] != 1:
                    s.sendall(b"\x05\x08\x00\x01" + b"\x00" * 6)
                    return
                address = read_exact(s, 6)
                target = "%d.%d.%d.%d:%d" % (*address[:4], address[4] << 8 | address[5])
                log(directory, "relay.log", "%d socks5 %s" % (port, target))
                if mode == "refuse":
                    s.sendall(b"\x05\x05\x00\x01" + b"\x00" * 6)
                    return
                s.sendall(b"\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x00")
            onward = socket.create_connection(("127.0.0.1", echo_port))
            threading.Thread(target=pump, args=(onward, s), daemon=True).start()
            pump(s, onward)

    return Server(("127.0.0.1", port), Relay)


def make_echo(directory, address, port, logged):
    class Echo(socketserver.BaseRequestHandler):
        def handle(self):
            if logged:
                log(directory, "direct.log", "%s:%d" % self.client_address)
            pump(self.request, self.request)

    return Server((address, port), Echo)


def main():
    directory, echo_port, direct_address = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    servers = [make_echo(directory, "127.0.0.1", echo_port, False),
               make_echo(directory, direct_address, echo_port, True)]
    for relay in sys.argv[4:]:
        port, mode = relay.split(":")
        servers.append(make_relay(directory, int(port), mode, echo_port))
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    open(os.path.join(directory, "ready"), "w").close()
    threading.Event().wait()


if __name__ == "__main__":
    main()
