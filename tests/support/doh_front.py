#!/usr/bin/python3
# A DNS-over-HTTPS front for the tests, on loopback: each POST of an
# application/dns-message to /dns-query is handed to a DNS server on
# loopback over UDP and its reply sent back as the HTTP answer. Other paths
# answer 404, other media types 415, and the path /not-dns answers 200 with
# text, so the client's checks of the answer can be seen.
#   doh_front.py CERT KEY PORT UPSTREAM_PORT
import http.server
import socket
import ssl
import sys


class Front(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def answer(self, code, body, ctype):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        query = self.rfile.read(min(length, 65535))
        if self.path == "/not-dns":
            return self.answer(200, b"<html>no</html>", "text/html")
        if self.path != "/dns-query":
            return self.answer(404, b"not found", "text/plain")
        if self.headers.get("Content-Type") != "application/dns-message":
            return self.answer(415, b"unsupported", "text/plain")
        upstream = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        upstream.settimeout(2)
        upstream.sendto(query, ("127.0.0.1", int(sys.argv[4])))
        try:
            reply = upstream.recv(65535)
        except socket.timeout:
            return self.answer(502, b"no answer", "text/plain")
        finally:
            upstream.close()
        self.answer(200, reply, "application/dns-message")

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[3])), Front)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
