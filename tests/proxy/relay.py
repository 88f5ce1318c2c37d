#!/usr/bin/env python3
# tests/proxy/relay.py
# The proxy tests' scripted SOCKS server, echo and HTTP servers, run inside the
# tests' private network namespace.
#   relay.py DIR ECHO_PORT DIRECT_ADDRESS[,DIRECT_ADDRESS6] PORT:MODE...
# Every relay port speaks SOCKS 4 and SOCKS 5 (IPv4, IPv6 and domain-name
# destinations) and logs each request it is given to DIR/relay.log as
# "PORT VERSION TARGET", TARGET being "a.b.c.d:port", "[v6]:port" or
# "name:port"; its mode says what it then does:
#   open     grants every CONNECT and joins it to the echo server on
#            127.0.0.1:ECHO_PORT, whatever the requested destination
#   login    the same, SOCKS 5 only, after the user name "relay-user" with the
#            password "relay-pass" (RFC 1929)
#   refuse   refuses every CONNECT
#   silent   reads the greeting and never answers
#   slow     as open, but waits REPLY_DELAY before each reply it sends
#   forward  connects to the requested destination itself, from loopback
#            (127.0.0.1 or ::1), and joins the two; refuses when it cannot.
#            A name ending ".relay.test" is known to the relay alone and
#            stands for the first direct address; other names are resolved
#            by the system (the namespace's hosts file)
#   drop     never accepts, and its queue is kept full, so that Linux drops
#            every further connection attempt: a proxy that loses packets
#   http     not SOCKS: answers any GET on the direct addresses with 200 and
#            "kestrel-http-ok", logging "PEER PATH" to DIR/http.log
# A second echo server listens on the direct addresses at ECHO_PORT and logs
# each connection it accepts to DIR/direct.log: the place a direct connect that
# should have been proxied, or blocked, would reach. A DNS server on the first
# direct address, port 53, UDP and TCP, logs each query to DIR/dns.log as
# "udp|tcp QNAME" and refuses it at once: the namespace's only name server, so
# a lookup outside the hosts file fails fast, and one made where it should not
# have been is on record. DIR/ready appears when everything listens.
import http.server
import os
import socket
import socketserver
import sys
import threading
import time

USER, PASSWORD = b"relay-user", b"relay-pass"
REPLY_DELAY = 0.1
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


def server_class(address, base):
    class Server(base):
        allow_reuse_address = True
        daemon_threads = True
        address_family = socket.AF_INET6 if ":" in address else socket.AF_INET
    return Server


def read_target(s, kind):
    """A SOCKS 5 destination: (host, port, text for the log)."""
    if kind == 1:
        host = socket.inet_ntop(socket.AF_INET, read_exact(s, 4))
    elif kind == 4:
        host = socket.inet_ntop(socket.AF_INET6, read_exact(s, 16))
    elif kind == 3:
        host = read_exact(s, read_exact(s, 1)[0]).decode("latin-1")
    else:
        return None
    port = int.from_bytes(read_exact(s, 2), "big")
    return host, port, ("[%s]:%d" if kind == 4 else "%s:%d") % (host, port)


RELAY_NAMES = ".relay.test"


def forward_to(host, port, direct):
    """A connection to the destination made from loopback, or None."""
    if host.lower().rstrip(".").endswith(RELAY_NAMES):
        host = direct
    try:
        source = ("::1" if ":" in host else "127.0.0.1", 0)
        onward = socket.create_connection((host, port), 5, source)
        onward.settimeout(None)
        return onward
    except OSError:
        return None


def make_relay(directory, port, mode, echo_port, direct):
    def reply(s, data):
        if mode == "slow":
            time.sleep(REPLY_DELAY)
        s.sendall(data)

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
                host = socket.inet_ntop(socket.AF_INET, head[3:7])
                port_ = head[1] << 8 | head[2]
                log(directory, "relay.log", "%d socks4 %s:%d" % (port, host, port_))
                onward = self.onward(host, port_) if mode != "login" else None
                if onward is None:
                    reply(s, b"\x00\x5b" + b"\x00" * 6)
                    return
                reply(s, b"\x00\x5a" + b"\x00" * 6)
            else:
                methods = read_exact(s, read_exact(s, 1)[0])
                wanted = 2 if mode == "login" else 0
                if wanted not in methods:
                    reply(s, b"\x05\xff")
                    return
                reply(s, bytes([5, wanted]))
                if wanted == 2:
                    read_exact(s, 1)
                    user = read_exact(s, read_exact(s, 1)[0])
                    password = read_exact(s, read_exact(s, 1)[0])
                    if (user, password) != (USER, PASSWORD):
                        reply(s, b"\x01\x01")
                        return
                    reply(s, b"\x01\x00")
                request = read_exact(s, 4)
                target = read_target(s, request[3])
                if target is None:
                    reply(s, b"\x05\x08\x00\x01" + b"\x00" * 6)
                    return
                log(directory, "relay.log", "%d socks5 %s" % (port, target[2]))
                onward = self.onward(target[0], target[1])
                if onward is None:
                    reply(s, b"\x05\x05\x00\x01" + b"\x00" * 6)
                    return
                reply(s, b"\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x00")
            threading.Thread(target=pump, args=(onward, s), daemon=True).start()
            pump(s, onward)

        def onward(self, host, port_):
            if mode == "refuse":
                return None
            if mode == "forward":
                return forward_to(host, port_, direct)
            return socket.create_connection(("127.0.0.1", echo_port))

    return server_class("127.0.0.1", socketserver.ThreadingTCPServer)(("127.0.0.1", port), Relay)


def make_drop(port):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(0)
    # With a backlog of 0 one connection fills the queue; the second's
    # handshake never completes, and Linux drops every SYN after them.
    fillers = [socket.socket() for _ in range(2)]
    for filler in fillers:
        filler.setblocking(False)
        filler.connect_ex(("127.0.0.1", port))
    time.sleep(0.2)
    probe = socket.socket()
    probe.settimeout(1)
    if probe.connect_ex(("127.0.0.1", port)) == 0:
        raise SystemExit("relay.py: the drop port %d still accepts connections" % port)
    probe.close()
    return listener, fillers


def make_echo(directory, address, port, logged):
    class Echo(socketserver.BaseRequestHandler):
        def handle(self):
            if logged:
                host, port_ = self.client_address[:2]
                log(directory, "direct.log", ("[%s]:%d" if ":" in host else "%s:%d") % (host, port_))
            pump(self.request, self.request)

    return server_class(address, socketserver.ThreadingTCPServer)((address, port), Echo)


def query_name(message):
    """The first question's name of a DNS message, or "?"."""
    labels, at = [], 12
    try:
        while message[at]:
            if message[at] & 0xC0:
                return "?"
            labels.append(message[at + 1:at + 1 + message[at]].decode("latin-1"))
            at += 1 + message[at]
    except IndexError:
        return "?"
    return ".".join(labels) or "."


def refused(message):
    """REFUSED for the query, its question kept."""
    if len(message) < 12:
        return b""
    flags = bytes([0x80 | (message[2] & 0x79), 0x80 | 5])  # QR, opcode and RD kept; RA
    return message[:2] + flags + message[4:6] + b"\x00" * 6 + message[12:]


def make_dns(directory, address):
    class Udp(socketserver.BaseRequestHandler):
        def handle(self):
            message, s = self.request
            log(directory, "dns.log", "udp " + query_name(message))
            s.sendto(refused(message), self.client_address)

    class Tcp(socketserver.BaseRequestHandler):
        def handle(self):
            s = self.request
            try:
                while True:
                    message = read_exact(s, int.from_bytes(read_exact(s, 2), "big"))
                    log(directory, "dns.log", "tcp " + query_name(message))
                    answer = refused(message)
                    s.sendall(len(answer).to_bytes(2, "big") + answer)
            except (OSError, ConnectionError):
                pass

    return [server_class(address, socketserver.ThreadingUDPServer)((address, 53), Udp),
            server_class(address, socketserver.ThreadingTCPServer)((address, 53), Tcp)]


def make_http(directory, address, port):
    class Server(server_class(address, http.server.ThreadingHTTPServer)):
        # HTTPServer's own asks the resolver for this host's name, and no
        # resolver answers in the namespace.
        server_bind = socketserver.TCPServer.server_bind

    class Answer(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            log(directory, "http.log", "%s %s" % (self.client_address[0], self.path))
            body = b"kestrel-http-ok"
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    return Server((address, port), Answer)


def main():
    directory, echo_port = sys.argv[1], int(sys.argv[2])
    direct = sys.argv[3].split(",")
    servers = [make_echo(directory, "127.0.0.1", echo_port, False)]
    servers += [make_echo(directory, address, echo_port, True) for address in direct]
    servers += make_dns(directory, direct[0])
    kept = []
    for relay in sys.argv[4:]:
        port, mode = relay.split(":")
        if mode == "drop":
            kept.append(make_drop(int(port)))
        elif mode == "http":
            servers += [make_http(directory, address, int(port)) for address in direct]
        else:
            servers.append(make_relay(directory, int(port), mode, echo_port, direct[0]))
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    open(os.path.join(directory, "ready"), "w").close()
    threading.Event().wait()


if __name__ == "__main__":
    main()
