#!/usr/bin/python3
"""A scripted hostile FTP server for the reliability tests.

Usage: hostile_server.py [--scenario NAME[,NAME...]] [--log FILE] [--cert PEM --key PEM]
                         [--host 127.0.0.1|::1]
Prints its port, then serves each connection in a thread. Login "test", password "secret".
Names are raw bytes (Latin-1 inside). The log gets "CMD <line>" (non-printable bytes as \\xNN),
"DATA-OPEN <n>" (open data connections over all sessions) and "DATA-CLOSE".

Scenarios: no-greeting; odd-multiline (multi-line replies with misleading inner lines, a FEAT
of 1,000 lines); bytewise (one byte per send); batched (150 and 226 before any data); no-utf8;
utf8-refused; mlsd; pasv-zero / pasv-other (EPSV refused, PASV names 0.0.0.0 / 127.0.0.2 where a
trap listens); pasv-malformed (five numbers); epsv-zero (port 0); epsv-dead (nothing listens);
silent-command (nothing answered after login); silent-quit; 421-idle (421 0.2 s after PWD);
idle-drop (421 after 1.5 s idle); dash-a-name (LIST takes "-a" for a name); list-pattern
(LIST path names only the folder); list-prefix (the path before every name); empty-550;
tls-stall (no handshake after AUTH TLS); tls-implicit (with --cert; otherwise --cert offers
AUTH TLS and PROT P); port-silent (150 after EPRT/PORT, never connects; ABOR gets 426, 226);
data-tls-stall (the data handshake never answered); 421-first / 421-always (the first / every
listing or transfer answers 421 and closes).

By name: files "fail-4NN*" (half the data, then NNN), "short*" (half, then 226), "grown*"
(listed 100 bytes small), "no226*", "late-451*", "reset*" (control reset mid-data), "trickle*"
(a byte a second), uploads "tls-drop*" and files "tls-cut*" (PROT P: data cut without
close_notify); folders "/die421", "/raw-crlf", "/loop" (endless), "/big-n" (n files),
"/huge-n" (a line of n MiB), "/wide", "/dots", "*flaky*" (first "LIST -a" 425), "locked*"
(listing 550); "mlsd-only*" left out of LIST; links to "/..." left out of MLSD; SITE LONG n;
SITE MANY n [w]. RMD of the current folder is refused.
"""

import argparse
import socket
import ssl
import struct
import sys
import threading
import time

LOCK = threading.Lock()
DATA_OPEN = [0]
LOG = [None]


def log(text):
    if LOG[0] is None:
        return
    with LOCK:
        with open(LOG[0], "a", encoding="ascii", errors="backslashreplace") as f:
            f.write(text + "\n")


def escape(raw):
    return "".join(ch if 32 <= ord(ch) < 127 and ch != "\\" else "\\x%02x" % ord(ch) for ch in raw)


def b(text):
    return text.encode("latin-1")


# A folder is a dict name -> node; a file is bytes; a link is ("link", target).
DATA = bytes(range(256)) * 64
DATA_COMMANDS = ("LIST", "MLSD", "NLST", "RETR", "STOR")


def wide_tree(depth):
    node = {"f1.txt": b"one", "f2.txt": b"two"}
    if depth > 0:
        for name in ("a", "b", "c"):
            node[name] = wide_tree(depth - 1)
    return node


def build_tree():
    return {
        "wide": wide_tree(2),
        "hello.txt": b"hello\r\nworld\r\n",
        **{name + ".bin": DATA for name in ("data", "fail-425", "fail-426", "fail-451", "short",
                                            "no226", "reset", "trickle", "tls-cut")},
        "die421": {},
        # Names a tree walk must never follow out of its folder.
        "evil": {"good.txt": b"good", "ctl\x01\x1bname.txt": b"control",
                 "sub": {"inner.txt": b"inner"}, "self": ("link", "."), "up": ("link", "..")},
        # Names in the server's own bytes.
        "names": {"テスト.txt".encode("cp932").decode("latin-1"): b"cp932",
                  "bad\xff\xfe.bin": b"invalid", "日本.txt".encode().decode("latin-1"): b"utf-8 body"},
        # Listed sizes that differ from what arrives.
        "grew": {"a.bin": b"aaaa", "grown.bin": DATA},
        "cut": {"a.bin": b"aaaa", "short.bin": DATA, "z.bin": b"z"},
        "late": {"a.bin": b"aaaa", "late-451.bin": DATA, "z.bin": b"z"},
        "dots": {".htaccess": b"deny", "index.html": b"page"},
        "flaky": {"a.txt": b"a"},
        "dash": {"-a": b"dash", "b.txt": b"b"},
        "ghost": {"a.txt": b"a", "mlsd-only": {"kept.txt": b"kept"}},
        # Links that MLSD leaves out.
        "hid": {"a.txt": b"a", "out": ("link", "/outside"),
                "sub": {"b.txt": b"b", "deep": ("link", "/outside/deep")}},
        "raw-crlf": {},
    }


def listed_size(name, node):
    if name.startswith("tls-cut"):
        return len(node) // 2
    return len(node) - 100 if name.startswith("grown") else len(node)


class LazyTls:
    """A data connection whose TLS handshake waits until it is first used (after the 150)."""

    def __init__(self, raw, context):
        self.raw = raw
        self.context = context
        self.tls = None

    def sock(self):
        if self.tls is None:
            self.raw.settimeout(10)
            self.tls = self.context.wrap_socket(self.raw, server_side=True)
        return self.tls

    def sendall(self, data):
        self.sock().sendall(data)

    def recv(self, size):
        return self.sock().recv(size)

    def shutdown(self, how):
        self.sock().unwrap()  # close_notify: the data is complete

    def close(self):
        (self.tls or self.raw).close()  # no close_notify


def unix_line(name, node):
    if isinstance(node, dict):
        return "drwxr-xr-x    2 1000     1000         4096 Jan 01 12:00 %s" % name
    if isinstance(node, tuple):
        return "lrwxrwxrwx    1 1000     1000            1 Jan 01 12:00 %s -> %s" % (name, node[1])
    return "-rw-r--r--    1 1000     1000     %8d Jan 01 12:00 %s" % (listed_size(name, node), name)


def mlsd_line(name, node):
    if isinstance(node, dict):
        return "type=dir;modify=20240101120000; %s" % name
    if isinstance(node, tuple):
        return "type=OS.unix=slink:%s;modify=20240101120000; %s" % (node[1], name)
    return "type=file;size=%d;modify=20240101120000; %s" % (listed_size(name, node), name)


ENTRIES = ["-rw-r--r--    1 1000     1000     %8d Jan 01 12:00 f%d.txt" % (i * 10, i)
           for i in range(1, 4)]

RAW_BODIES = {"/raw-crlf": "".join(line + "\r\n" for line in ENTRIES)}
# Extra hostile entries in the listing of /evil: names that lead outside the folder.
EVIL_ENTRIES = [("..", {}), ("..", b"evil"), ("../escape.txt", b"evil"),
                ("/etc-escape.txt", b"evil"), ("/abs-dir", {}), ("a/b.txt", b"evil"),
                ("esc\x1b[2J/x.txt", b"evil")]
EVIL_MLSD = ["type=cdir;modify=20240101120000; .", "type=pdir;modify=20240101120000; .."]


class Server:
    def __init__(self, scenarios, tls):
        self.tls = tls
        self.scenarios = scenarios
        self.tree = build_tree()
        self.lock = threading.Lock()
        self.dropped = False  # 421-first has dropped its connection


def send_bytes(sock, data, bytewise):
    for piece in (data[i:i + 1] for i in range(len(data))) if bytewise else (data,):
        sock.sendall(piece)


class Session:
    def __init__(self, server, conn):
        self.server = server
        self.conn = conn
        self.modes = server.scenarios
        self.bytewise = "bytewise" in self.modes
        self.logged_in = False
        self.pasv = None
        self.trap = None
        self.cwd = "/"
        self.rnfr = None
        self.flaky_done = False
        self.prot = False
        self.port_given = False

    def send(self, text):
        send_bytes(self.conn, text.encode("latin-1"), self.bytewise)

    def reply(self, code, text):
        self.send("%d %s\r\n" % (code, text))

    def run(self):
        try:
            if self.server.tls and "tls-implicit" in self.modes:
                self.conn = self.server.tls.wrap_socket(self.conn, server_side=True)
            if "no-greeting" in self.modes:
                while self.conn.recv(4096):
                    pass
                return
            self.greet()
            if "idle-drop" in self.modes:
                self.conn.settimeout(1.5)
            buf = b""
            while True:
                try:
                    chunk = self.conn.recv(4096)
                except socket.timeout:
                    self.reply(421, "Timeout.")
                    return
                if not chunk:
                    return
                buf += chunk
                while b"\n" in buf:
                    raw, buf = buf.split(b"\n", 1)
                    line = raw.rstrip(b"\r").decode("latin-1")
                    log("CMD " + escape(line))
                    if not self.handle(line):
                        return
        except OSError:
            pass
        finally:
            self.close_passive()
            self.conn.close()

    def absolute(self, arg):
        path = arg if arg.startswith("/") else self.cwd + "/" + arg
        return "/" + "/".join(p for p in path.split("/") if p)

    def lookup(self, path):
        parts = [p for p in path.split("/") if p]
        if parts and parts[0] == "loop" and all(p == "loop" for p in parts):
            return {"loop": {}, "f.txt": b"loop"}
        if len(parts) == 1 and parts[0].startswith(("big-", "huge-")):
            return {}
        node = self.server.tree
        for p in parts:
            if not isinstance(node, dict) or p not in node:
                return None
            node = node[p]
        return node

    def parent_and_name(self, path):
        cut = path.rfind("/")
        parent = path[:cut] or "/"
        return self.lookup(parent), path[cut + 1:]

    def open_passive(self):
        """Listens on the control connection's own address; returns the port."""
        self.close_passive()
        self.pasv = socket.socket(self.conn.family, socket.SOCK_STREAM)
        self.pasv.bind((self.conn.getsockname()[0], 0))
        self.pasv.listen(1)
        self.pasv.settimeout(10)
        return self.pasv.getsockname()[1]

    def close_passive(self):
        if self.pasv:
            self.pasv.close()
        self.pasv = None
        if self.trap:
            self.trap.close()
        self.trap = None

    def watch_trap(self, port):
        try:
            self.trap = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.trap.bind(("127.0.0.2", port))
            self.trap.listen(1)
        except OSError:
            self.trap = None
            return
        trap = self.trap

        def wait():
            try:
                trap.settimeout(10)
                conn, peer = trap.accept()
                log("TRAP %s" % peer[0])
                conn.close()
            except OSError:
                pass
        threading.Thread(target=wait, daemon=True).start()

    def open_data(self):
        """The data connection, or None after answering 425."""
        try:
            data, _ = self.pasv.accept()
        except (OSError, AttributeError):  # nobody came, or no listener
            self.reply(425, "Can't open data connection.")
            return None
        finally:
            if self.pasv:
                self.pasv.close()  # the trap, if any, keeps watching
            self.pasv = None
        if self.prot:
            data = LazyTls(data, self.server.tls)
        with LOCK:
            DATA_OPEN[0] += 1
            count = DATA_OPEN[0]
        log("DATA-OPEN %d" % count)
        return data

    def close_data(self, data):
        data.close()
        with LOCK:
            DATA_OPEN[0] -= 1
        log("DATA-CLOSE")

    def stall_until_abor(self):
        """Says 150, then waits (at most 10 s) for ABOR, which it answers 426 and 226."""
        self.reply(150, "Opening data connection.")
        timeout = self.conn.gettimeout()
        self.conn.settimeout(10)
        got = b""
        try:
            while b"ABOR" not in got:
                chunk = self.conn.recv(4096)
                if not chunk:
                    return
                got += chunk
        finally:
            self.conn.settimeout(timeout)
        log("CMD ABOR")
        self.reply(426, "Connection closed; transfer aborted.")
        self.reply(226, "ABOR successful.")

    def send_data(self, payload, name=""):
        data = self.open_data()
        if data is None:
            return
        try:
            if "data-tls-stall" in self.modes and self.prot:
                self.stall_until_abor()  # the data connection's handshake never comes
                return
            self.send_payload(data, payload, name)
        except OSError:
            pass
        finally:
            self.close_data(data)

    def send_payload(self, data, payload, name):
        half = bytes(memoryview(payload)[:len(payload) // 2])
        cut = name.startswith(("fail-", "reset")) or (name.startswith("tls-cut") and self.prot)
        if name.startswith("short"):
            payload = half
        if "batched" in self.modes and not cut and not name.startswith("trickle"):
            self.conn.sendall(b"150 Opening data connection.\r\n226 Transfer complete.\r\n")
            time.sleep(0.1)
            send_bytes(data, payload, self.bytewise)
            return
        self.reply(150, "Opening data connection.")
        if cut:  # half the data, then the failure
            data.sendall(half)
            time.sleep(0.1)
            if name.startswith("reset"):
                self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.conn.close()
                time.sleep(3)  # the data connection stays open and silent
            elif name.startswith("tls-cut"):
                data.close()  # without close_notify
                time.sleep(0.1)
                self.reply(226, "Transfer complete.")
            else:
                self.reply(int(name[5:8]), "Transfer failed.")
                time.sleep(0.1)
            return
        if name.startswith("trickle"):
            for i in range(len(payload)):
                data.sendall(payload[i:i + 1])
                time.sleep(1.0)
        else:
            send_bytes(data, payload, self.bytewise)
            if name.startswith("no226"):
                data.close()
                time.sleep(5)
                return
            data.shutdown(socket.SHUT_WR)
            time.sleep(0.01)
        if name.startswith("late-"):
            self.reply(int(name[5:8]), "Transfer failed.")
            return
        self.reply(226, "Transfer complete.")

    def receive_data(self, parent, name):
        drop = name.startswith("tls-drop") and self.prot  # reset after the first byte, then 426
        data = self.open_data()
        if data is None:
            return
        self.reply(150, "Ok to send data.")
        try:
            if drop:
                data.recv(1)
                data.sock().setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                body = b"".join(iter(lambda: data.recv(65536), b""))
        finally:
            self.close_data(data)
        if drop:
            self.reply(426, "Connection closed; transfer aborted.")
            return
        with self.server.lock:
            parent[name] = body
        self.reply(226, "Transfer complete.")

    def listing(self, path, mlsd, hidden=True, prefix=""):
        name = path.rsplit("/", 1)[-1]
        if path in RAW_BODIES:
            return b(RAW_BODIES[path])
        if name.startswith("huge-") and path.count("/") == 1:
            # Three entries, then one line of n MiB without a line end.
            return b(RAW_BODIES["/raw-crlf"]) + b"x" * (int(name[5:]) << 20)
        if name.startswith("big-") and path.count("/") == 1:
            count = int(name[4:])
            line = "-rw-r--r--    1 1000     1000     %8d Jan 01 12:00 file-%07d.dat\r\n"
            return b"".join(b(line % (i, i)) for i in range(count))
        node = self.lookup(path)
        lines = []
        with self.server.lock:
            items = list(node.items())
        for child, value in items:
            if mlsd and isinstance(value, tuple) and value[1].startswith("/"):
                continue
            if not mlsd and (child.startswith("mlsd-only")
                             or (not hidden and child.startswith("."))):
                continue
            child = prefix + child
            lines.append(mlsd_line(child, value) if mlsd else unix_line(child, value))
        if path == "/evil":
            lines.extend(EVIL_MLSD if mlsd else [])
            lines.extend(mlsd_line(*e) if mlsd else unix_line(*e) for e in EVIL_ENTRIES)
        return b("".join(line + "\r\n" for line in lines))

    def feat(self):
        features = ["EPSV", "PASV", "SIZE", "MDTM"]
        if "no-utf8" not in self.modes:
            features.append("UTF8")
        if "mlsd" in self.modes:
            features.append("MLST type*;size*;modify*;")
        if "odd-multiline" in self.modes:
            body = ["211-Features:"]
            for i in range(1000):
                body.append(" X-FILLER-%d" % i)
                if i == 500:
                    body.append("211x not the end")
                    body.append("211-not the end either")
                    body.append("230 another code")
            body.extend(" " + f for f in features)
            body.append("211 End")
            return "".join(line + "\r\n" for line in body)
        return "211-Features:\r\n" + "".join(" %s\r\n" % f for f in features) + "211 End\r\n"

    def welcome(self):
        if "odd-multiline" in self.modes:
            self.send("230-Welcome\r\n331 inner line with another code\r\n230-same code\r\n"
                      "230\tno blank but a tab\r\n 230 indented\r\n230 Login successful.\r\n")
        else:
            self.reply(230, "Login successful.")

    def greet(self):
        if "odd-multiline" in self.modes:
            self.send("220-Welcome\r\n230 not mine\r\n220-still the greeting\r\n"
                      "220x still\r\n 220 indented\r\n220 ready\r\n")
        else:
            self.reply(220, "hostile test server")

    def handle(self, line):
        cmd, _, arg = line.partition(" ")
        cmd = cmd.upper()
        if cmd == "QUIT":
            if "silent-quit" in self.modes:
                return True  # never answered, the connection stays open
            self.reply(221, "Goodbye.")
            return False
        if self.server.tls and cmd == "AUTH" and arg.upper() == "TLS":
            self.reply(234, "Proceed with negotiation.")
            if "tls-stall" in self.modes:
                time.sleep(5)
                return False
            self.conn = self.server.tls.wrap_socket(self.conn, server_side=True)
            return True
        if self.server.tls and cmd in ("PBSZ", "PROT"):
            self.prot = self.prot or (cmd == "PROT" and arg.upper() == "P")
            self.reply(200, "Ok.")
            return True
        if cmd == "USER":
            self.reply(331, "Please specify the password.")
        elif cmd == "PASS":
            if arg != "secret":
                self.reply(530, "Login incorrect.")
            else:
                self.logged_in = True
                self.welcome()
        elif cmd == "FEAT":
            self.send(self.feat())
        elif not self.logged_in:
            self.reply(530, "Please login with USER and PASS.")
        else:
            return self.command(cmd, arg)
        return True

    def command(self, cmd, arg):
        if "silent-command" in self.modes:
            return True
        if cmd in DATA_COMMANDS and ("421-always" in self.modes or (
                "421-first" in self.modes and not self.server.dropped)):
            self.server.dropped = True
            self.reply(421, "Service not available, closing control connection.")
            return False
        if cmd in ("EPRT", "PORT") and "port-silent" in self.modes:
            self.port_given = True
            self.reply(200, "%s command successful." % cmd)
            return True
        if cmd in DATA_COMMANDS and self.port_given:
            self.port_given = False
            self.stall_until_abor()
            return True
        if cmd == "SYST":
            self.reply(215, "UNIX Type: L8")
        elif cmd == "OPTS" and "utf8-refused" in self.modes and arg.upper().startswith("UTF8"):
            self.reply(501, "UTF8 not available.")
        elif cmd in ("NOOP", "TYPE", "OPTS"):
            self.reply(200, "Ok.")
        elif cmd == "PWD":
            if "odd-multiline" in self.modes:
                self.send('257-"%s" is the current directory\r\n257x not the end\r\n'
                          '200 another code\r\n257-nor this\r\n257 End\r\n' % self.cwd)
            else:
                self.reply(257, '"%s" is the current directory' % self.cwd.replace('"', '""'))
            if "421-idle" in self.modes:
                time.sleep(0.2)
                self.reply(421, "Timeout.")
                return False
        elif cmd == "CWD":
            path = self.absolute(arg)
            if path == "/die421":
                self.reply(421, "Service not available.")
                return False
            if isinstance(self.lookup(path), dict):
                self.cwd = path
                self.reply(250, "Directory successfully changed.")
            else:
                self.reply(550, "Failed to change directory.")
        elif cmd == "SITE":
            return self.site(arg)
        elif cmd == "EPSV":
            self.epsv()
        elif cmd == "PASV":
            self.passive()
        elif cmd in ("LIST", "MLSD", "NLST"):
            self.list(cmd, arg)
        elif cmd == "MLST":
            self.mlst(arg)
        elif cmd in ("RETR", "STOR", "SIZE", "MDTM", "MKD", "RNFR"):
            self.file_command(cmd, self.absolute(arg))
        elif cmd in ("DELE", "RMD"):
            self.remove(cmd, self.absolute(arg))
        elif cmd == "RNTO":
            self.rename(self.absolute(arg))
        else:
            self.reply(502, "Command not implemented.")
        return True

    # What RETR, STOR, SIZE, MDTM, MKD and RNFR answer when they cannot act.
    REFUSALS = {"RETR": (550, "Failed to open file."), "STOR": (553, "Could not create file."),
                "SIZE": (550, "Could not get file size."),
                "MDTM": (550, "Could not get file modification time."),
                "MKD": (550, "Create directory operation failed."),
                "RNFR": (550, "RNFR command failed.")}

    def file_command(self, cmd, path):
        node = self.lookup(path)
        parent, name = self.parent_and_name(path)
        if cmd == "RETR" and isinstance(node, bytes):
            self.send_data(node, name)
        elif cmd == "STOR" and isinstance(parent, dict):
            self.receive_data(parent, name)
        elif cmd == "SIZE" and isinstance(node, bytes):
            self.reply(213, str(listed_size(name, node) if "tls-cut" in path else len(node)))
        elif cmd == "MDTM" and isinstance(node, bytes):
            self.reply(213, "20240101120000")
        elif cmd == "MKD" and isinstance(parent, dict) and name not in parent:
            with self.server.lock:
                parent[name] = {}
            self.reply(257, '"%s" created' % path)
        elif cmd == "RNFR" and node is not None:
            self.rnfr = path
            self.reply(350, "Ready for RNTO.")
        else:
            if cmd in ("RETR", "STOR"):
                self.close_passive()
            self.reply(*self.REFUSALS[cmd])

    def site(self, arg):
        word, _, rest = arg.partition(" ")
        word = word.upper()
        if word == "LONG":
            self.send("200 " + "L" * int(rest) + "\r\n")
        elif word == "MANY":
            count, _, width = rest.partition(" ")
            pad = "." * max(int(width or 0) - 12, 0)
            self.send("200-start\r\n" + "".join(" line %d%s\r\n" % (i, pad)
                                                for i in range(int(count))) + "200 end\r\n")
        else:
            self.reply(502, "Unknown SITE command.")
        return True

    def epsv(self):
        if self.modes & {"pasv-zero", "pasv-other", "pasv-malformed"}:
            self.reply(500, "EPSV not understood.")
        elif "epsv-zero" in self.modes:
            self.reply(229, "Entering Extended Passive Mode (|||0|)")
        elif "epsv-dead" in self.modes:
            probe = socket.socket()
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
            probe.close()
            self.reply(229, "Entering Extended Passive Mode (|||%d|)" % port)
        else:
            self.reply(229, "Entering Extended Passive Mode (|||%d|)" % self.open_passive())

    def passive(self):
        port = self.open_passive()
        host = "127,0,0,1"
        if "pasv-zero" in self.modes:
            host = "0,0,0,0"
        elif "pasv-other" in self.modes:
            host = "127,0,0,2"
            self.watch_trap(port)
        if "pasv-malformed" in self.modes:
            self.reply(227, "Entering Passive Mode (127,0,0,%d,%d)." % (port >> 8, port & 255))
        else:
            self.reply(227, "Entering Passive Mode (%s,%d,%d)." % (host, port >> 8, port & 255))

    def list(self, cmd, arg):
        options = ""
        while arg.startswith("-") and "dash-a-name" not in self.modes:
            option, _, arg = arg.partition(" ")
            options += option
        path = self.absolute(arg) if arg else self.cwd
        if cmd == "LIST" and "a" in options and "flaky" in path and not self.flaky_done:
            self.flaky_done = True
            self.close_passive()
            self.reply(425, "Cannot open data connection.")
            return
        node = self.lookup(path)
        name = path.rsplit("/", 1)[-1]
        if "dash-a-name" in self.modes and isinstance(node, bytes):
            self.send_data(b(unix_line(name, node) + "\r\n"))
            return
        if cmd == "LIST" and arg and "list-pattern" in self.modes and isinstance(node, dict):
            self.send_data(b(unix_line(name, node) + "\r\n"))  # the folder itself, as "ls -d"
            return
        refusal = None
        if not isinstance(node, dict) and path not in RAW_BODIES:
            refusal = "No such folder."
        elif name.startswith("locked"):
            refusal = "Permission denied."
        elif node == {} and path not in RAW_BODIES and "empty-550" in self.modes:
            refusal = "No files found."
        if refusal:
            self.close_passive()
            self.reply(550, refusal)
            return
        prefix = arg.rstrip("/") + "/" if cmd == "LIST" and arg and "list-prefix" in self.modes \
            else ""
        self.send_data(self.listing(path, cmd == "MLSD", cmd != "LIST" or "a" in options, prefix))

    def mlst(self, arg):
        path = self.absolute(arg)
        node = self.lookup(path)
        if node is None:
            self.reply(550, "No such file.")
            return
        self.send("250-Listing %s\r\n %s\r\n250 End.\r\n" % (path, mlsd_line(path, node)))

    def remove(self, cmd, path):
        parent, name = self.parent_and_name(path)
        with self.server.lock:
            node = parent.get(name) if isinstance(parent, dict) else None
            if node is None:
                self.reply(550, "No such file.")
            elif cmd == "RMD" and not isinstance(node, dict):
                self.reply(550, "Not a folder.")
            elif cmd == "RMD" and node:
                self.reply(550, "Folder not empty.")
            elif cmd == "RMD" and (self.cwd + "/").startswith(path + "/"):
                self.reply(550, "Cannot remove the current folder.")
            elif cmd == "DELE" and isinstance(node, dict):
                self.reply(550, "Is a folder.")
            else:
                del parent[name]
                self.reply(250, "Ok.")

    def rename(self, path):
        if self.rnfr is None:
            self.reply(503, "RNFR first.")
            return
        old_parent, old_name = self.parent_and_name(self.rnfr)
        new_parent, new_name = self.parent_and_name(path)
        self.rnfr = None
        with self.server.lock:
            if not isinstance(new_parent, dict) or old_name not in old_parent:
                self.reply(550, "Rename failed.")
                return
            new_parent[new_name] = old_parent.pop(old_name)
        self.reply(250, "Rename successful.")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scenario", default="")
    parser.add_argument("--log", default=None)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    tls = None
    if args.cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.cert, args.key)
    LOG[0] = args.log
    server = Server(set(s for s in args.scenario.split(",") if s), tls)

    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=Session(server, conn).run, daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
