#!/usr/bin/env python3
"""quovix-cli --json: real runs of every tool, each line checked against the
JSON Schema in cli/quovix-cli.schema.json, and the exit statuses.

Everything runs in a network and mount namespace of its own (root only): the
loopback interface is the only one there, /etc/resolv.conf points at a dnsmasq
on 127.0.0.1:53, and the peers (dnsmasq, aiosmtpd, small HTTP, whois and NTP
responders) listen on loopback inside it, so no run can reach anything else.
"""
import http.server
import json
import os
import shutil
import signal
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SOURCE = os.environ.get("QUOVIX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.environ.get("QUOVIX_BIN_DIR", os.path.join(SOURCE, "build", "bin"))
SKIP = 77  # ctest's skip code for this test


def skip(why):
    print("skipped: " + why)
    sys.exit(SKIP)


try:
    import jsonschema
except ImportError:
    skip("python3-jsonschema is not installed (scripts/deps/cli.list)")

with open(os.path.join(SOURCE, "cli", "quovix-cli.schema.json")) as f:
    SCHEMA = json.load(f)
VALIDATOR = jsonschema.Draft7Validator(SCHEMA)


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---- Peers ----------------------------------------------------------------------------

DNSMASQ_CONF = """port=53
listen-address=127.0.0.1
bind-interfaces
no-resolv
no-hosts
no-poll
no-negcache
keep-in-foreground
user=
pid-file=
log-facility={log}
auth-server=ns1.quovix.test,127.0.0.1
auth-zone=quovix.test,192.0.2.0/24,127.0.0.0/8
auth-zone=toolbarqueries.google.com,127.0.0.0/8
auth-soa=2024010101,hostmaster.quovix.test,7200,3600,1209600
auth-ttl=300
host-record=quovix.test,192.0.2.10
host-record=ns1.quovix.test,192.0.2.53
host-record=mx.quovix.test,127.0.0.1
mx-host=quovix.test,mx.quovix.test,10
txt-record=quovix.test,"v=spf1 -all"
dns-rr=quovix.test,65,000100000100030268320003000201bb
dns-rr=_443._tcp.quovix.test,52,030101abcdef01
txt-record=broken.quovix.test,"v=spf1 include:nothing.quovix.test -all"
txt-record=_dmarc.quovix.test,"v=DMARC1; p=reject; rua=mailto:dmarc@quovix.test"
txt-record=_mta-sts.sts.quovix.test,"v=STSv1; id=20240101"
txt-record=_smtp._tls.sts.quovix.test,"v=TLSRPTv1; rua=mailto:tls@quovix.test,https://report.quovix.test/tls"
host-record=mta-sts.sts.quovix.test,127.0.0.1
mx-host=sts.quovix.test,mx.quovix.test,10
mx-host=sts.quovix.test,backup.quovix.test,20
host-record=toolbarqueries.google.com,127.0.0.1
auth-zone=whois.denic.de,127.0.0.0/8
host-record=whois.denic.de,127.0.0.1
auth-zone=whois.arin.net,127.0.0.0/8
host-record=whois.arin.net,127.0.0.1
"""


class Peers:
    """The peers every case shares, started once."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.procs = []
        self.servers = []
        self.smtpd = None
        self.ntp_sock = None
        try:
            self.dnsmasq()
            self.smtp()
            self.http_port = self.http(HeadHandler, free_port())
            self.rdap_port = self.http(RdapHandler, free_port())
            self.whois_port = self.whois()
            self.whois(43)  # the registries' servers of the shipped Whois.pak lead here
            self.ntp_port = self.ntp()
        except BaseException:
            self.stop()
            raise

    def dnsmasq(self):
        exe = shutil.which("dnsmasq") or "/usr/sbin/dnsmasq"
        if not os.access(exe, os.X_OK):
            skip("dnsmasq is not installed (scripts/deps/dns.list)")
        conf = os.path.join(self.tmp, "dnsmasq.conf")
        with open(conf, "w") as f:
            f.write(DNSMASQ_CONF.format(log=os.path.join(self.tmp, "dnsmasq.log")))
        self.procs.append(subprocess.Popen([exe, "-C", conf]))
        for _ in range(50):
            try:
                socket.gethostbyname("mx.quovix.test")
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("dnsmasq does not answer")

    def smtp(self):
        try:
            from aiosmtpd.controller import Controller
            from aiosmtpd.smtp import SMTP
        except ImportError:
            skip("python3-aiosmtpd is not installed (scripts/deps/mail.list)")

        class Handler:
            async def handle_RCPT(self, server, session, envelope, address, options):
                if address.lower() != "postmaster@quovix.test":
                    return "550 <%s>: Recipient address rejected: User unknown" % address
                envelope.rcpt_tos.append(address)
                return "250 OK"

        self.smtpd = Controller(Handler(), hostname="127.0.0.1", port=25)
        self.smtpd.start()

    def http(self, handler, port):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.servers.append(server)
        return port

    def whois(self, port=0):
        class Handler(socketserver.StreamRequestHandler):
            def handle(self):
                query = self.rfile.readline().decode("latin-1").strip()
                if query == "many-lines.test":
                    self.wfile.write(b"a\n" * (512 * 1024))  # 1 MiB of one-byte lines
                    return
                self.wfile.write(("Domain Name: %s\r\nRegistrar: Quovix Test Registrar\r\n"
                                  "Remark: \x1b[31m\xff\r\n" % query).encode("latin-1"))

        socketserver.ThreadingTCPServer.allow_reuse_address = True
        server = socketserver.ThreadingTCPServer(("127.0.0.1", port), Handler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.servers.append(server)
        return server.server_address[1]

    def ntp(self):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind(("127.0.0.1", 0))

        def serve():
            while True:
                try:
                    data, peer = sock.recvfrom(512)
                except OSError:
                    return
                if len(data) < 48:
                    continue
                now = time.time() + 2208988800
                ts = struct.pack("!II", int(now), int((now % 1) * 2 ** 32))
                reply = bytes([0x1C, 2, 6, 0xEC]) + b"\0" * 8 + b"TEST" + ts + data[40:48] + ts + ts
                sock.sendto(reply, peer)

        threading.Thread(target=serve, daemon=True).start()
        self.ntp_sock = sock
        return sock.getsockname()[1]

    def stop(self):
        for s in self.servers:
            s.shutdown()
            s.server_close()
        if self.smtpd:
            self.smtpd.stop()
        if self.ntp_sock:
            self.ntp_sock.close()
        for p in self.procs:
            p.terminate()
            p.wait()


class HeadHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        if self.path == "/slow":
            # The server's think time before its first byte.
            time.sleep(0.3)
        if self.path == "/moved":
            self.send_response(301)
            self.send_header("Location", "http://127.0.0.1:%d/" % self.server.server_address[1])
        elif self.path == "/hostile":
            # A header with control characters, a C1 control, a bidi override
            # and bytes that are no UTF-8.
            self.send_response(200)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        else:
            self.send_response(200)
        if self.path == "/slow":
            self.send_header("Set-Cookie", "sid=1; HttpOnly")
        self.send_header("Content-Length", "0")
        self.end_headers()

    def send_response(self, code, message=None):
        super().send_response(code, message)
        if self.path == "/hostile":
            self._headers_buffer.append(b"X-Evil: a\x1b[2Jb\xc2\x9bc\xe2\x80\xaed\xff\xfee\r\n")


class RdapHandler(http.server.BaseHTTPRequestHandler):
    """A registry's RDAP service for quovix.test with the link to its
    registrar's, which answers too; anything else is not registered. A
    request that does not ask for RDAP JSON gets 406."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        base = "http://127.0.0.1:%d" % self.server.server_address[1]
        answers = {
            "/domain/quovix.test": {
                "objectClassName": "domain", "ldhName": "QUOVIX.TEST", "status": ["active"],
                "entities": [{"objectClassName": "entity", "roles": ["registrar"],
                              "vcardArray": ["vcard", [["fn", {}, "text", "Quovix Test Registrar"]]]}],
                "links": [{"rel": "related", "type": "application/rdap+json",
                           "href": base + "/registrar/domain/quovix.test"}]},
            "/registrar/domain/quovix.test": {
                "objectClassName": "domain", "ldhName": "quovix.test",
                "entities": [{"objectClassName": "entity", "roles": ["registrant"],
                              "vcardArray": ["vcard", [["org", {}, "text", "Quovix Org"]]]}]},
        }
        if self.headers.get("Accept") != "application/rdap+json":
            code, body = 406, b""
        elif self.path in answers:
            code, body = 200, json.dumps(answers[self.path]).encode()
        else:
            code, body = 404, b'{"errorCode": 404}'
        self.send_response(code)
        self.send_header("Content-Type", "application/rdap+json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class RankHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        body = b"Rank_1:1:5\n"
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def https_policy(tmp, host, body):
    """An HTTPS server on port 443 of this namespace that serves body as
    the MTA-STS policy of host, its certificate from a CA made here.
    Returns the server and the CA's file."""
    d = tempfile.mkdtemp(dir=tmp)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]

    def openssl(*args):
        subprocess.run(["openssl"] + list(args), check=True, capture_output=True)

    openssl("req", "-x509", *ec, "-keyout", d + "/ca.key", "-out", d + "/ca.pem", "-days", "2",
            "-subj", "/CN=Quovix Test CA", "-addext", "basicConstraints=critical,CA:true",
            "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", *ec, "-keyout", d + "/key.pem", "-out", d + "/req.pem", "-subj", "/CN=" + host)
    with open(d + "/ext", "w") as f:
        f.write("subjectAltName=DNS:%s\nbasicConstraints=CA:false\nextendedKeyUsage=serverAuth\n" % host)
    openssl("x509", "-req", "-in", d + "/req.pem", "-CA", d + "/ca.pem", "-CAkey", d + "/ca.key",
            "-CAcreateserial", "-out", d + "/cert.pem", "-days", "2", "-extfile", d + "/ext")

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            data = body.encode() if self.path == "/.well-known/mta-sts.txt" else b""
            self.send_response(200 if data else 404)
            self.send_header("Content-Type", "text/plain; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

    import ssl
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(d + "/cert.pem", d + "/key.pem")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Handler)
    server.daemon_threads = True
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, d + "/ca.pem"


# ---- The program ------------------------------------------------------------------------

class Program:
    """quovix-cli in a folder of its own beside the data packs and lists of the
    build, with a settings file of the case's choosing."""

    def __init__(self, tmp):
        self.dir = os.path.join(tmp, "program")
        os.makedirs(self.dir)
        shutil.copy(os.path.join(BIN, "quovix-cli"), self.dir)
        for name in os.listdir(BIN):
            if name.endswith((".pak", ".clf")) or name == "Language":
                os.symlink(os.path.join(BIN, name), os.path.join(self.dir, name))
        with open(os.path.join(self.dir, "Broken.clf"), "wb") as f:
            f.write(b"this is no data pack")
        self.env = dict(os.environ, XDG_CACHE_HOME=os.path.join(tmp, "cache"), NO_COLOR="1")
        self.settings()

    def bootstrap(self, dns_services):
        """RDAP/dns.json with these services; None: no RDAP folder."""
        folder = os.path.join(self.dir, "RDAP")
        shutil.rmtree(folder, ignore_errors=True)
        if dns_services is not None:
            os.makedirs(folder)
            with open(os.path.join(folder, "dns.json"), "w") as f:
                json.dump({"version": "1.0", "services": dns_services}, f)

    def settings(self, extra="", dns="127.0.0.1"):
        with open(os.path.join(self.dir, "Quovix.ini"), "w") as f:
            # RdapBootstrapUrl empty: no bootstrap refresh from its default service.
            f.write("[Settings]\nActiveDnsServerIP=%s\nNameResTimeout=1000\nRdapBootstrapUrl=\n%s"
                    % (dns, extra))

    def run(self, *args, interrupt_after=None):
        cmd = [os.path.join(self.dir, "quovix-cli"), "--json"] + list(args)
        p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env)
        if interrupt_after is not None:
            lines = []
            while len(lines) < interrupt_after:
                line = p.stdout.readline()
                if not line:
                    break
                lines.append(line)
            p.send_signal(signal.SIGINT)
            rest, err = p.communicate(timeout=60)
            out = b"".join(lines) + rest
        else:
            out, err = p.communicate(timeout=120)
        return p.returncode, out, err


class CliJsonLines(unittest.TestCase):
    """Each case: a real run, every line valid against the schema, one result
    object closing each tool, and the exit status the outcome asks for."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="quovix-cli-json-")
        cls.peers = Peers(cls.tmp)
        cls.program = Program(cls.tmp)

    @classmethod
    def tearDownClass(cls):
        cls.peers.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.program.settings()

    def objects(self, out, tools):
        """The lines as objects, each checked against the schema; the tools
        appear in order, each closed by exactly one result object."""
        self.assertTrue(out.endswith(b"\n") or not out, out[-200:])
        objects = []
        for raw in out.split(b"\n")[:-1]:
            raw.decode("utf-8")  # valid UTF-8 or an exception
            o = json.loads(raw)
            errors = sorted(VALIDATOR.iter_errors(o), key=str)
            self.assertFalse(errors, "%s\n%s" % (raw, "\n".join(e.message for e in errors)))
            objects.append(o)
        results = [o for o in objects if o["kind"] == "result"]
        self.assertEqual([r["tool"] for r in results], tools)
        for o in objects:
            # Lines of a tool come before its result object.
            self.assertLessEqual(objects.index(o), objects.index(results[tools.index(o["tool"])]))
        return objects

    def run_ok(self, tools, *args):
        status, out, err = self.program.run(*args)
        objects = self.objects(out, tools)
        self.assertEqual(status, 0, err.decode(errors="replace") + out.decode(errors="replace"))
        for o in objects:
            self.assertNotIn(o["kind"], ("error", "timeout"), o)
            if o["kind"] == "result":
                self.assertEqual(o["status"], "ok", o)
        return objects

    def run_failing(self, tools, *args, lines=True):
        """lines: an error or time-out line tells the failure (else the
        tool's own verdict alone does)."""
        status, out, err = self.program.run(*args)
        objects = self.objects(out, tools)
        self.assertEqual(status, 1, err.decode(errors="replace") + out.decode(errors="replace"))
        self.assertEqual(any(o["kind"] in ("error", "timeout") for o in objects), lines, objects)
        self.assertIn("failed", [o["status"] for o in objects if o["kind"] == "result"])
        return objects

    @staticmethod
    def result(objects, tool):
        return next(o for o in objects if o["tool"] == tool and o["kind"] == "result")

    # ---- Each tool: a run that succeeds and one that fails --------------------------------

    def test_dns(self):
        o = self.run_ok(["dns"], "/Dns:quovix.test", "/DnsI:1", "/DnsR:0", "/DnsV:1", "/DnsD:1")
        records = {(r["type"], r["value"]) for r in o if "type" in r}
        self.assertIn(("A", "192.0.2.10"), records)
        self.assertIn(("MX", "mx.quovix.test"), records)
        self.assertIn(("TXT", "v=spf1 -all"), records)
        soa = next(r for r in o if r.get("type") == "SOA")
        self.assertEqual(soa["serial"], 2024010101)
        result = self.result(o, "dns")
        self.assertEqual(result["rcode"]["A"], "NOERROR")
        self.assertEqual(result["address"], "192.0.2.10")
        # An address without a reverse name; a domain that does not exist.
        self.run_failing(["dns"], "/Dns:192.0.2.99", "/DnsI:0")
        o = self.run_failing(["dns"], "/Dns:nowhere.quovix.test", "/DnsI:1", "/DnsD:1")
        self.assertEqual(self.result(o, "dns")["rcode"], {"A": "NXDOMAIN"})
        self.assertTrue(any(l.get("rcode") == "NXDOMAIN" and l["kind"] == "error" for l in o))
        # A name without an address: its "???" line stays info, the verdict fails.
        o = self.run_failing(["dns"], "/Dns:nosuch.invalid", "/DnsI:0", lines=False)
        self.assertIn({"tool": "dns", "kind": "info", "text": "  IP-Adresse:  ???"}, o)
        # A name the IDN encoder refuses.
        o = self.run_failing(["dns"], "/Dns:i\u2764.ws", "/DnsI:0")
        self.assertEqual(o[-2]["reason"], "idn_not_encodable")
        # A server that refuses: one error line names it, no section is asked.
        self.program.settings(dns="127.0.0.2")
        o = self.run_failing(["dns"], "/Dns:quovix.test", "/DnsI:1", "/DnsR:0", "/DnsD:1")
        self.assertEqual([l for l in o if "section" in l], [])
        refusals = [l for l in o if l.get("rcode") == "connection_refused"]
        self.assertEqual([(l["kind"], l["server"]) for l in refusals], [("error", "127.0.0.2")])
        self.assertEqual(self.result(o, "dns")["rcode"], {"A": "connection_refused"})

    def test_dns_type(self):
        # One type asked directly: the record's fields beside its
        # presentation form, the header lines, the verdict by type.
        o = self.run_ok(["dns"], "/Dns:quovix.test", "/DnsT:HTTPS")
        https = next(r for r in o if r.get("type") == "HTTPS")
        self.assertEqual(https["data"], '1 . alpn="h2" port=443')
        self.assertEqual((https["dns_section"], https["priority"], https["target"], https["alpn"], https["port"]),
                         ("answer", 1, ".", ["h2"], 443))
        self.assertEqual(next(l for l in o if "id" in l)["rcode"], "NOERROR")
        self.assertIn("QR", next(l for l in o if "answer_count" in l)["flags"])
        self.assertEqual(next(l for l in o if "time_ms" in l)["transport"], "udp")
        self.assertEqual(self.result(o, "dns")["rcode"], {"HTTPS": "NOERROR"})
        o = self.run_ok(["dns"], "/Dns:_443._tcp.quovix.test", "/DnsT:TLSA")
        tlsa = next(r for r in o if r.get("type") == "TLSA")
        self.assertEqual((tlsa["usage"], tlsa["selector"], tlsa["matching_type"], tlsa["association"]),
                         (3, 1, 1, "ABCDEF01"))
        # A name that does not exist: the server's code, its SOA in the authority section.
        o = self.run_failing(["dns"], "/Dns:nowhere.quovix.test", "/DnsT:TXT")
        self.assertEqual(next(r for r in o if r.get("type") == "SOA")["dns_section"], "authority")
        self.assertEqual(self.result(o, "dns")["rcode"], {"TXT": "NXDOMAIN"})

    def test_ping(self):
        o = self.run_ok(["ping"], "/Ping:127.0.0.1", "/PingC:2", "/PingP:0", "/PingR:0")
        replies = [r for r in o if "seq" in r]
        self.assertEqual([r["seq"] for r in replies], [1, 2])
        self.assertTrue(all("rtt_ms" in r and r["verdict"] == "ok" for r in replies))
        self.assertEqual(self.result(o, "ping")["ok"], 2)
        # No route to the address in this namespace: this computer refuses the echo.
        o = self.run_failing(["ping"], "/Ping:192.0.2.1", "/PingC:1", "/PingT:100", "/PingR:0")
        self.assertEqual((self.result(o, "ping")["missing"], self.result(o, "ping")["loss_pct"]), (1, 100))
        echo = next(r for r in o if "seq" in r)
        self.assertEqual((echo["verdict"], echo["reason"], echo.get("local")), ("unreachable", "no_route", True))
        o = self.run_ok(["ping"], "/Ping:::1", "/PingC:2", "/PingP:0", "/PingR:0")
        self.assertEqual([(r["address"], "rtt_ms" in r) for r in o if "seq" in r], [("::1", True)] * 2)

    def test_trace(self):
        o = self.run_ok(["trace"], "/Trace:127.0.0.1", "/TraceR:0", "/TraceT:1000")
        hops = [h for h in o if "hop" in h]
        self.assertEqual(hops[-1]["address"], "127.0.0.1")
        self.assertTrue(self.result(o, "trace")["reached"])
        self.run_failing(["trace"], "/Trace:nowhere.quovix.test", "/TraceR:1")
        # This computer's stack knows no route: an error hop line naming no node, a failed trace.
        o = self.run_failing(["trace"], "/Trace:192.0.2.1", "/TraceR:0")
        hop = next(h for h in o if "hop" in h)
        self.assertEqual((hop["address"], hop["verdict"], hop["kind"], hop.get("local")),
                         (None, "unreachable", "error", True))
        # In rounds: the table once at the end, one record per hop with each round's sample.
        o = self.run_ok(["trace"], "/Trace:127.0.0.1", "/TraceR:0", "/TraceRounds:3", "/TraceI:0")
        rows = [h for h in o if "samples" in h]
        self.assertEqual([(r["hop"], r["address"], r["sent"], r["loss"], len(r["samples"])) for r in rows],
                         [(1, "127.0.0.1", 3, "none", 3)])
        self.assertEqual(self.result(o, "trace")["rounds"], 3)

    def test_whois(self):
        port = self.peers.whois_port
        o = self.run_ok(["whois"], "/Whois:quovix.test", "/WhoisD:1", "/WhoisS:127.0.0.1:%d" % port,
                        "/WhoisT:2000", "/WhoisR:0", "/WhoisN:0")
        self.assertTrue(any("Quovix Test Registrar" in l["text"] for l in o))
        self.assertEqual(self.result(o, "whois")["answers"], 1)
        answer = [l for l in o if l.get("section") == "domain" and l["kind"] == "data"]
        self.assertIn("Registrar: Quovix Test Registrar", [l["text"] for l in answer])
        port = free_port()
        o = self.run_failing(["whois"], "/Whois:quovix.test", "/WhoisD:1", "/WhoisS:127.0.0.1:%d" % port,
                             "/WhoisT:500", "/WhoisR:0", "/WhoisN:0")
        self.assertIn(("127.0.0.1", "refused"), [(l.get("server"), l.get("reason")) for l in o])
        # A top-level domain without an RDAP service, answered on port 43:
        # a note, then the answer, and the run has answered.
        o = self.run_ok(["whois"], "/Whois:example.de", "/WhoisN:0", "/WhoisT:2000")
        self.assertIn(("rdap_domain", "no_service", "info"),
                      [(l.get("section"), l.get("reason"), l["kind"]) for l in o])
        self.assertIn(("domain", "whois.denic.de", 43),
                      [(l.get("section"), l.get("server"), l.get("port")) for l in o])
        self.assertEqual(self.result(o, "whois")["answers"], 1)
        # An address: no domain to ask about is a note; the registry answers.
        o = self.run_ok(["whois"], "/Whois:192.0.2.10", "/WhoisT:2000")
        self.assertIn(("network", "whois.arin.net", 43),
                      [(l.get("section"), l.get("server"), l.get("port")) for l in o])
        self.assertFalse([l for l in o if l["kind"] not in ("data", "result") and not l["text"]])
        # A private address: one line, no registry asked.
        o = self.run_ok(["whois"], "/Whois:10.1.2.3", "/WhoisT:2000")
        local = [l for l in o if l.get("reason") == "local_range"]
        self.assertEqual([(l["special_range"], l["range"]) for l in local], [("private", "10.0.0.0/8")])
        self.assertFalse(any(l.get("section") == "network" and "server" in l for l in o))

    def test_whois_memory(self):
        """1 MiB of one-byte lines: the lines are capped and each costs a small
        multiple of its text (about 170 MB of memory before)."""
        import resource
        cmd = [os.path.join(self.program.dir, "quovix-cli"), "--json", "/Whois:many-lines.test",
               "/WhoisD:1", "/WhoisS:127.0.0.1:%d" % self.peers.whois_port, "/WhoisT:5000",
               "/WhoisR:0"]
        p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.program.env)
        with p.stdout:
            out = p.stdout.read()
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
        o = self.objects(out, ["whois"])
        self.assertIn("truncated", [l.get("reason") for l in o])
        # The sanitizers' shadow memory and quarantine count as resident too.
        if not os.environ.get("QUOVIX_SANITIZED"):
            self.assertLess(usage.ru_maxrss, 60 * 1024, "kB resident at most")

    def test_whois_rdap(self):
        base = "http://127.0.0.1:%d/" % self.peers.rdap_port
        try:
            self.program.bootstrap([[["test"], [base]]])
            o = self.run_ok(["whois"], "/Whois:quovix.test", "/WhoisN:0", "/WhoisT:2000", "/WhoisR:1")
            fields = {(l["section"], l["rdap_field"], l["value"]) for l in o if "rdap_field" in l}
            self.assertIn(("rdap_domain", "registrar", "Quovix Test Registrar"), fields)
            self.assertIn(("rdap_registrar", "contact_org", "Quovix Org"), fields)
            self.assertEqual(self.result(o, "whois")["answers"], 2)
            # Not registered: a red line, the verdict fails, no port-43 query.
            o = self.run_failing(["whois"], "/Whois:missing.test", "/WhoisN:0", "/WhoisT:2000")
            self.assertIn(("rdap_domain", "not_found", "error"),
                          [(l.get("section"), l.get("reason"), l["kind"]) for l in o])
            self.assertFalse(any(l.get("section") == "domain" for l in o))
            # No RDAP service for the name: a note, then port 43 as before.
            self.program.bootstrap([[["example"], [base]]])
            o = self.run_failing(["whois"], "/Whois:quovix.test", "/WhoisN:0", "/WhoisT:2000")
            self.assertIn(("rdap_domain", "no_service", "info"),
                          [(l.get("section"), l.get("reason"), l["kind"]) for l in o])
            self.assertIn(("domain", "not_possible"), [(l.get("section"), l.get("reason")) for l in o])
            # An RDAP failure that port 43 then answers: the maroon line stays,
            # the run has answered.
            self.program.bootstrap([[["de"], ["http://127.0.0.1:%d/" % free_port()]]])
            status, out, err = self.program.run("/Whois:example.de", "/WhoisN:0", "/WhoisT:2000")
            o = self.objects(out, ["whois"])
            self.assertEqual((status, self.result(o, "whois")["status"]), (0, "ok"), out)
            self.assertIn(("rdap_domain", "unreachable", "timeout"),
                          [(l.get("section"), l.get("reason"), l["kind"]) for l in o])
            self.assertIn("Domain Name: -T dn,ace example.de", [l.get("text") for l in o])
        finally:
            self.program.bootstrap(None)

    def test_email(self):
        o = self.run_ok(["email"], "/EMail:postmaster@quovix.test", "/EMailT:5000", "/EMailTls:0")
        verdicts = [(l["check"], l["accepted"]) for l in o if "check" in l]
        self.assertEqual(verdicts, [("sender", True), ("recipient", True)])
        self.assertEqual(self.result(o, "email")["server"], "mx.quovix.test")
        o = self.run_failing(["email"], "/EMail:nobody@quovix.test", "/EMailT:5000", "/EMailTls:0")
        self.assertFalse(self.result(o, "email")["recipient_accepted"])

    def test_email_policy(self):
        # The sender policy alone, from dnsmasq's TXT records: a fail is an
        # answer (exit 0), a permerror a failed run.
        o = self.run_ok(["email"], "/EMail:postmaster@quovix.test", "/EMailSpfIp:192.0.2.1", "/EMailConnect:0")
        result = self.result(o, "email")
        self.assertEqual(result["spf"], {"result": "fail", "term": "-all", "lookups": 0, "void_lookups": 0})
        self.assertIsNone(result["server"])
        o = self.run_failing(["email"], "/EMail:postmaster@broken.quovix.test", "/EMailSpfIp:192.0.2.1",
                             "/EMailConnect:0")
        spf = self.result(o, "email")["spf"]
        self.assertEqual((spf["result"], spf["term"], spf["lookups"]),
                         ("permerror", "include:nothing.quovix.test", 1))
        # No record at the subdomain: the organizational domain's applies.
        self.assertEqual(self.result(o, "email")["dmarc"],
                         {"policy": "reject", "found_at": "_dmarc.quovix.test", "valid": True, "unauthorized_uris": []})

    def test_email_sts(self):
        # The policy in enforce lists the first exchanger only: the second is
        # an error line, the run fails; every MTA-STS value is on its line.
        if not shutil.which("openssl"):
            skip("openssl is not installed")
        server, ca = https_policy(self.tmp, "mta-sts.sts.quovix.test",
                                  "version: STSv1\r\nmode: enforce\r\nmx: mx.quovix.test\r\nmax_age: 86400\r\n")
        self.program.env["SSL_CERT_FILE"] = ca
        try:
            o = self.run_failing(["email"], "/EMail:postmaster@sts.quovix.test", "/EMailConnect:0",
                                 "/EMailPolicy:0", "/EMailT:5000")
        finally:
            del self.program.env["SSL_CERT_FILE"]
            server.shutdown()
            server.server_close()
        self.assertEqual([l["sts_id"] for l in o if "sts_id" in l], ["20240101"])
        policy = next(l for l in o if "sts_mode" in l and l["kind"] != "result")
        self.assertEqual((policy["sts_mode"], policy["sts_mx"], policy["sts_max_age"]),
                         ("enforce", ["mx.quovix.test"], 86400))
        self.assertEqual([(l["mx"], l["mx_matches"], l["kind"]) for l in o if "mx_matches" in l],
                         [("mx.quovix.test", True, "ok"), ("backup.quovix.test", False, "error")])
        rua = ["mailto:tls@quovix.test", "https://report.quovix.test/tls"]
        self.assertEqual([l["tlsrpt_rua"] for l in o if "tlsrpt_rua" in l and l["kind"] != "result"], [rua])
        result = self.result(o, "email")
        self.assertEqual((result["sts_mode"], result["tlsrpt_rua"]), ("enforce", rua))

    def test_head(self):
        base = "http://127.0.0.1:%d" % self.peers.http_port
        o = self.run_ok(["head"], "/Head:%s/moved" % base, "/HeadR:1", "/HeadT:2000")
        headers = [(l["name"], l["value"]) for l in o if "name" in l]
        self.assertIn(("Content-Length", "0"), headers)
        self.assertEqual(self.result(o, "head")["status_code"], 200)
        # Each hop's status line and headers under its own URL.
        statuses = [(l["hop"], l["url"], l["status_code"]) for l in o if l["kind"] == "data" and "status_code" in l]
        self.assertEqual(statuses, [(1, "%s/moved" % base, 301), (2, "%s/" % base, 200)])
        self.assertIn(200, [l.get("status_code") for l in o if l["kind"] == "data"])
        # Hostile header bytes arrive as valid JSON: the controls, the C1
        # control and the bidi override masked as the console shows them,
        # the bytes that are no UTF-8 as U+FFFD.
        status, out, _ = self.program.run("/Head:%s/hostile" % base, "/HeadR:0")
        self.assertNotIn(b"\x1b", out)
        self.assertNotIn(b"\xc2\x9b", out)
        self.assertNotIn("\u202e".encode(), out)
        evil = next(l for l in self.objects(out, ["head"]) if l.get("name") == "X-Evil")
        self.assertEqual(evil["value"], "a?[2Jb?c?d\ufffd\ufffde")
        # Where the time goes, measured: a server that thinks 300 ms first.
        o = self.run_ok(["head"], "/Head:%s/slow" % base, "/HeadR:0", "/HeadT:2000")
        timing = [l for l in o if "total_ms" in l]
        self.assertEqual(len(timing), 1)
        self.assertGreaterEqual(timing[0]["first_byte_ms"], 300.0)
        self.assertLess(timing[0]["connect_ms"], 50.0)
        self.assertEqual((timing[0]["lookup_ms"], timing[0]["tls_ms"]), (None, None))  # an address, plain HTTP
        self.assertGreaterEqual(timing[0]["total_ms"], timing[0]["first_byte_ms"] + timing[0]["connect_ms"])
        # After the last hop its security headers and cookies; missing ones
        # on a plain page are said, and the run still answered.
        said = {l["security_header"]: l["present"] for l in o if "security_header" in l}
        self.assertEqual(len(said), 7)
        self.assertFalse(any(said.values()))
        self.assertIn(("sid", False, True, None), [(l["cookie"], l["secure"], l["http_only"], l["same_site"]) for l in o if "cookie" in l])
        o = self.run_failing(["head"], "/Head:http://127.0.0.1:%d/" % free_port(), "/HeadT:1000")
        self.assertIn(("not_reachable", "refused"), [(l.get("reason"), l.get("cause")) for l in o])
        # Accepted by the kernel, never answered: a time-out, not "unreachable".
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen(4)
            o = self.run_failing(["head"], "/Head:http://127.0.0.1:%d/" % silent.getsockname()[1], "/HeadT:250")
        self.assertIn(("timeout", "timeout", "timeout"), [(l["kind"], l.get("reason"), l.get("cause")) for l in o])

    def test_time(self):
        o = self.run_ok(["time"], "/Time:127.0.0.1:%d" % self.peers.ntp_port)
        result = self.result(o, "time")
        self.assertEqual(result["stratum"], 2)
        self.assertLess(abs(result["offset_ms"]), 60000)
        o = self.run_failing(["time"], "/Time:127.0.0.1:%d" % free_port(socket.SOCK_DGRAM))
        self.assertEqual(self.result(o, "time")["error"], "no_answer")
        self.assertEqual(self.result(o, "time")["reason"], "unreachable")
        self.assertIn("unreachable", [l.get("reason") for l in o if l["kind"] == "error"])

    def test_prank(self):
        # The ranking service's name leads to loopback here (dnsmasq).
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 80), RankHandler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            o = self.run_ok(["prank"], "/PRank:http://quovix.test/", "/PRankT:2000")
            self.assertEqual(self.result(o, "prank")["rank"], 5)
        finally:
            server.shutdown()
            server.server_close()
        o = self.run_failing(["prank"], "/PRank:http://quovix.test/", "/PRankT:500")
        self.assertEqual(self.result(o, "prank")["error"], "not_reachable")

    def test_list(self):
        o = self.run_ok(["list"], "/List:443", "/ListL:Ports")
        self.assertGreater(self.result(o, "list")["hits"], 0)
        self.assertTrue(any("443" in l["text"] for l in o if l["kind"] == "data"))
        o = self.run_failing(["list"], "/List:443", "/ListL:Broken")
        self.assertEqual(self.result(o, "list")["error"], "unreadable")

    def test_own(self):
        # An IPv6 address and an IPv6 DNS server of this namespace's own.
        subprocess.run(["ip", "link", "add", "qvx0", "type", "veth", "peer", "name", "qvx1"], check=True)
        with open("/etc/resolv.conf") as f:
            resolv = f.read()
        try:
            subprocess.run(["ip", "addr", "add", "fd00:5::5/64", "dev", "qvx0", "nodad"], check=True)
            for link in ("qvx0", "qvx1"):
                subprocess.run(["ip", "link", "set", link, "up"], check=True)
            with open("/etc/resolv.conf", "a") as f:
                f.write("nameserver fd00:5::53\n")
            o = self.run_ok(["own"], "/OwnR:0", "/Own")
        finally:
            with open("/etc/resolv.conf", "w") as f:
                f.write(resolv)
            subprocess.run(["ip", "link", "del", "qvx0"], check=True)
        self.assertEqual(self.result(o, "own")["adapters"], len([l for l in o if "adapter" in l]))
        self.assertIn(("fd00:5::5", "qvx0", False),
                      [(l["address"], l["interface"], l["link_local"]) for l in o if "interface" in l])
        self.assertIn("fd00:5::53", [l.get("dns_server") for l in o if l.get("family") == "ipv6"])
        self.program.settings("ExtIpUrl=http://127.0.0.1:%d/\n" % free_port())
        o = self.run_failing(["own"], "/OwnR:0", "/Own")
        self.assertIsNone(self.result(o, "own")["external_address"])

    def test_names_that_cannot_be_asked_for(self):
        """Every tool that takes a host, with a name the IDN encoder refuses and
        one longer than DNS allows: one red line naming it (PageRank, without a
        pane, its result), a failed result, every line valid."""
        long_name = ".".join(c * 50 for c in "abcdef") + ".test"
        for name, reason in (("i\u2764.ws", "idn_not_encodable"), (long_name, "name_too_long")):
            for tool, args in (("dns", ["/Dns:" + name, "/DnsI:0"]), ("ping", ["/Ping:" + name, "/PingR:0"]),
                               ("trace", ["/Trace:" + name, "/TraceR:0"]), ("whois", ["/Whois:" + name]),
                               ("email", ["/EMail:me@" + name]), ("head", ["/Head:http://%s/" % name]),
                               ("time", ["/Time:" + name]), ("prank", ["/PRank:http://%s/" % name])):
                with self.subTest(tool=tool, reason=reason):
                    o = self.run_failing([tool], *args)
                    said = [l for l in o if l["kind"] == "error" and l.get("reason") == reason]
                    if tool == "prank":
                        self.assertEqual(self.result(o, tool)["error"], reason)
                    else:
                        self.assertEqual([l["name"] for l in said], [name])
                    self.assertEqual(self.result(o, tool)["status"], "failed")
                    if tool != "prank" and reason == "name_too_long":
                        self.assertIn("höchstens 253 Zeichen, 63 je Namensteil", said[0]["text"])

    def test_json_help_leaves_stdout_to_json(self):
        p = subprocess.run([os.path.join(self.program.dir, "quovix-cli"), "--json", "--help"],
                           capture_output=True, env=self.program.env)
        self.assertEqual((p.returncode, p.stdout), (0, b""))
        self.assertIn(b"/Dns:HOST", p.stderr)

    # ---- Several tools, abort, usage -------------------------------------------------------

    def test_tools_in_order_and_the_worst_outcome(self):
        o = self.run_failing(["ping", "list"], "/List:443", "/ListL:Broken", "/Ping:127.0.0.1",
                             "/PingC:1", "/PingR:0")
        self.assertEqual([r["status"] for r in o if r["kind"] == "result"], ["ok", "failed"])

    def test_ctrl_c_closes_with_a_result_object(self):
        status, out, _ = self.program.run("/Ping:127.0.0.1", "/PingC:-1", "/PingP:100", "/PingR:0",
                                          interrupt_after=6)
        self.assertEqual(status, 130)
        o = self.objects(out, ["ping"])
        self.assertEqual(o[-1]["status"], "aborted")

    def test_unknown_format_is_usage(self):
        for args in (["--format=xml", "/Own"], ["/List:443", "/ListL:Prots"]):
            p = subprocess.run([os.path.join(self.program.dir, "quovix-cli"), "--json"][:1] + args,
                               capture_output=True, env=self.program.env)
            self.assertEqual((p.returncode, p.stdout), (2, b""), args)


def inside():
    """Sets up the namespace this process was started in: loopback up, the
    resolver pointed at 127.0.0.1."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    tmp = tempfile.mkdtemp(prefix="quovix-ns-")
    resolv = os.path.join(tmp, "resolv.conf")
    with open(resolv, "w") as f:
        f.write("nameserver 127.0.0.1\noptions timeout:1 attempts:1\n")
    subprocess.run(["mount", "--bind", resolv, "/etc/resolv.conf"], check=True)
    try:
        argv = [sys.argv[0]] + [a for a in sys.argv[1:] if a != "--inside"]
        program = unittest.main(argv=argv, exit=False, verbosity=2)
        return 0 if program.result.wasSuccessful() else 1
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    if "--inside" in sys.argv:
        sys.exit(inside())
    # A missing program is a failure, never a reason to skip.
    if not os.access(os.path.join(BIN, "quovix-cli"), os.X_OK):
        print("failed: quovix-cli is missing in " + BIN)
        sys.exit(1)
    if os.geteuid() != 0:
        skip("needs root for a network namespace of its own")
    if not shutil.which("unshare") or not shutil.which("ip"):
        skip("unshare (util-linux) or ip (iproute2) missing")
    sys.exit(subprocess.call(["unshare", "--net", "--mount", sys.executable, os.path.abspath(__file__),
                              "--inside"] + sys.argv[1:]))
