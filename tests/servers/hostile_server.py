#!/usr/bin/python3
"""A scripted hostile FTP server for fault tests: prints its port, serves connections in threads.
Login "test"/"secret"; names are raw bytes (Latin-1 inside). It logs "CMD <line>" (bytes outside
ASCII as \\xNN), "DATA-OPEN <n>" (open in all sessions), "DATA-CLOSE" and "TRAP <peer>". Scenarios
(--scenario a,b): SCRIPTS, and bytewise (a byte per send); batched (150 and 226 before the data);
no-utf8, mlsd (FEAT); epsv-dead; pasv-other (a trap at 127.0.0.2); idle-drop (421 after 1.5 s
idle); dash-a-name (LIST takes "-a" for a name); list-pattern (LIST path names only the folder);
list-prefix (the path before every name); empty-550; tls-implicit (with --cert, else AUTH TLS).
Files "fail-4NN*" (half the data, then NNN), "short*" (half, 226), "grown*" (listed 100 bytes
small), "no226*", "late-451*", "reset*" (control reset mid-data), "trickle*" (a byte a second),
"tls-cut*", uploads "tls-drop*" (PROT P: cut without close_notify); folders "/loop" (endless),
"/big-n" (n files), "/huge-n" (a line of n MiB), "*flaky*" (first "LIST -a" 425), "locked*" (550);
"mlsd-only*" not in LIST, links to "/..." not in MLSD; SITE LONG n; SITE MANY n [w]; no RMD of the
current folder."""

import argparse
import socket
import ssl
import struct
import threading
import time

LOCK = threading.RLock()
DATA_OPEN = [0]
LOG = [None]
DATA = bytes(range(256)) * 64
DATA_COMMANDS = ("LIST", "MLSD", "RETR", "STOR")
TREE_COMMANDS = "CWD SIZE MDTM MLST MKD RNFR RNTO DELE RMD RETR STOR".split()
STALL = object()  # 150, then nothing until ABOR
PASV = "227 Entering Passive Mode (%s,%%(p1)d,%%(p2)d)."
NO_EPSV = "500 EPSV not understood."
DROP = "421 Service not available, closing control connection."
FILLER = "".join(" X-FILLER-%d\r\n" % i for i in range(1000)).replace(
    "-500\r\n", "-500\r\n211x not the end\r\n211-not the end either\r\n230 another code\r\n")

# The replies of a well-behaved server (""), and a scenario's instead: %(name)s filled in, ""
# silent, a number a wait in seconds, 221 and 421 close, a "-first" scenario answers so once.
SCRIPTS = {
    "": {"greeting": "220 hostile test server", "welcome": "230 Login successful.",
         "refused": "530 Login incorrect.", "anonymous": "530 Please login with USER and PASS.",
         "USER": "331 Please specify the password.", "QUIT": "221 Goodbye.", "NOOP": "200 Ok.",
         "TYPE": "200 Ok.", "OPTS": "200 Ok.", "PWD": '257 "%(cwd)s" is the current directory',
         "FEAT": "211-Features:\r\n%(features)s211 End", "PASV": PASV % "127,0,0,1",
         "EPSV": "229 Entering Extended Passive Mode (|||%(port)d|)",
         "CWD /die421": "421 Service not available."},
    "no-greeting": {"greeting": ""},
    "odd-multiline": {
        "greeting": "220-Welcome\r\n230 not mine\r\n220-still the greeting\r\n220x still\r\n"
                    " 220 indented\r\n220 ready",
        "welcome": "230-Welcome\r\n331 inner line with another code\r\n230-same code\r\n"
                   "230\tno blank but a tab\r\n 230 indented\r\n230 Login successful.",
        "PWD": '257-"%(cwd)s" is the current directory\r\n257x not the end\r\n200 another code\r\n'
               "257-nor this\r\n257 End",
        "FEAT": "211-Features:\r\n" + FILLER + "%(features)s211 End"},
    "utf8-refused": {"OPTS": "501 UTF8 not available."},
    "silent-command": {"CWD": ""},
    "silent-quit": {"QUIT": ""},
    "421-idle": {"PWD": ('257 "%(cwd)s" is the current directory', 0.2, "421 Timeout.")},
    "tls-stall": {"AUTH": ("234 Proceed with negotiation.", 5.0, "421 Timeout.")},
    "pasv-zero": {"EPSV": NO_EPSV, "PASV": PASV % "0,0,0,0"},
    "pasv-other": {"EPSV": NO_EPSV, "PASV": PASV % "127,0,0,2"},
    "epsv-zero": {"EPSV": "229 Entering Extended Passive Mode (|||0|)"},
    "421-first": dict.fromkeys(DATA_COMMANDS, DROP),
    "421-always": dict.fromkeys(DATA_COMMANDS, DROP),
    "port-silent": {"EPRT": "200 Ok.", "PORT": "200 Ok.", **dict.fromkeys(DATA_COMMANDS, STALL)},
    "data-tls-stall": dict.fromkeys(("LIST", "MLSD", "RETR"), STALL),  # no data handshake
}


def log(text):
    if LOG[0]:
        with LOCK, open(LOG[0], "a", encoding="ascii", errors="backslashreplace") as f:
            f.write(text + "\n")


def escape(raw):
    return "".join(ch if 32 <= ord(ch) < 127 and ch != "\\" else "\\x%02x" % ord(ch) for ch in raw)


def b(text):
    return text.encode("latin-1")


def wide_tree(depth):
    node = {"f1.txt": b"one", "f2.txt": b"two"}
    return {**node, **{name: wide_tree(depth - 1) for name in "abc"}} if depth else node


# A folder is a dict name -> node; a file is bytes; a link is its target (str).
def build_tree():
    return {
        "wide": wide_tree(2),
        "hello.txt": b"hello\r\nworld\r\n",
        **{name + ".bin": DATA for name in ("data", "fail-425", "fail-426", "fail-451", "short",
                                            "no226", "reset", "trickle", "tls-cut")},
        "three": {"f%d.txt" % i: b"x" * 10 * i for i in (1, 2, 3)},
        "evil": {"good.txt": b"good", "ctl\x01\x1bname.txt": b"control",
                 "sub": {"inner.txt": b"inner"}, "self": ".", "up": ".."},
        "names": {"テスト.txt".encode("cp932").decode("latin-1"): b"cp932", "bad\xff\xfe.bin": b"bad",
                  "日本.txt".encode().decode("latin-1"): b"utf-8 body"},
        "grew": {"a.bin": b"aaaa", "grown.bin": DATA},
        "cut": {"a.bin": b"aaaa", "short.bin": DATA, "z.bin": b"z"},
        "late": {"a.bin": b"aaaa", "late-451.bin": DATA, "z.bin": b"z"},
        "dots": {".htaccess": b"deny", "index.html": b"page"},
        "flaky": {"a.txt": b"a"},
        "dash": {"-a": b"dash", "b.txt": b"b"},
        "ghost": {"a.txt": b"a", "mlsd-only": {"kept.txt": b"kept"}},
        "hid": {"a.txt": b"a", "out": "/outside", "sub": {"b.txt": b"b", "deep": "/outside/deep"}},
    }


# Entries of /evil no listing of a folder may hold: names that lead outside it.
EVIL = [("..", {}), ("..", b"evil"), ("../escape.txt", b"evil"), ("/etc-escape.txt", b"evil"),
        ("/abs-dir", {}), ("a/b.txt", b"evil"), ("esc\x1b[2J/x.txt", b"evil")]
EVIL_MLSD = ["type=cdir;modify=20240101120000; .", "type=pdir;modify=20240101120000; .."]


def listed_size(name, node):
    if name.startswith("tls-cut"):
        return len(node) // 2
    return len(node) - (100 if name.startswith("grown") else 0)


def entry_line(name, node, mlsd):
    if isinstance(node, dict):
        facts, unix = "type=dir", "drwxr-xr-x    2 1000     1000         4096"
    elif isinstance(node, str):
        facts, unix = "type=OS.unix=slink:" + node, "lrwxrwxrwx    1 1000     1000            1"
    else:
        size = listed_size(name, node)
        facts, unix = "type=file;size=%d" % size, "-rw-r--r--    1 1000     1000     %8d" % size
    if mlsd:
        return "%s;modify=20240101120000; %s" % (facts, name)
    return unix + " Jan 01 12:00 " + name + (" -> " + node if isinstance(node, str) else "")


def shown(name, node, mlsd, hidden):
    if mlsd:
        return not (isinstance(node, str) and node.startswith("/"))
    return not name.startswith("mlsd-only") and (hidden or not name.startswith("."))


class Server:  # what all sessions share
    tls = None
    modes = set()
    tree = build_tree()


def send_bytes(sock, data, bytewise):
    for piece in (data[i:i + 1] for i in range(len(data))) if bytewise else (data,):
        sock.sendall(piece)


class Session:
    def __init__(self, conn):
        self.conn = conn
        self.modes = Server.modes
        self.bytewise = "bytewise" in self.modes
        self.logged_in = self.prot = self.flaky_done = False
        self.pasv = self.trap = self.rnfr = None
        self.held = []  # the data connection of a transfer that waits for ABOR
        self.port, self.cwd = 0, "/"

    def send(self, text):
        send_bytes(self.conn, b(text), self.bytewise)
        return True

    def reply(self, code, text):
        return self.send("%d %s\r\n" % (code, text))

    def run(self):
        try:
            if Server.tls and "tls-implicit" in self.modes:
                self.conn = Server.tls.wrap_socket(self.conn, server_side=True)
            self.say("greeting")
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
                    line = raw.rstrip(b"\r").lstrip(b"\xff\xf4\xf2").decode("latin-1")  # Telnet IP
                    log("CMD " + escape(line))
                    if not self.handle(line):
                        return
        except OSError:
            pass
        finally:
            self.close_passive()
            self.conn.close()

    def handle(self, line):
        cmd, _, arg = line.partition(" ")
        cmd = cmd.upper()
        secure = Server.tls and cmd in ("AUTH", "PBSZ", "PROT")
        if cmd == "PASS":
            self.logged_in = arg == "secret"
            cmd = "welcome" if self.logged_in else "refused"
        elif not self.logged_in and cmd not in ("USER", "QUIT", "FEAT") and not secure:
            cmd = "anonymous"
        elif cmd in ("EPSV", "PASV"):
            self.open_passive(cmd)
        return self.say(line if line in SCRIPTS[""] else cmd, arg)

    def say(self, key, arg=""):
        """The scripted answer to key; False when the connection is to close."""
        mode = next((m for m in (*self.modes, "") if key in SCRIPTS.get(m, {})), None)
        if mode is None:
            return self.command(key, arg)
        script = SCRIPTS[mode][key]
        if mode.endswith("-first"):
            self.modes.discard(mode)
        if script is STALL:
            return self.stall()
        features = ["EPSV", "PASV", "SIZE", "MDTM"] + ["UTF8"] * ("no-utf8" not in self.modes)
        features += ["MLST type*;size*;modify*;"] * ("mlsd" in self.modes)
        fields = {"cwd": self.cwd.replace('"', '""'), "port": self.port, "p1": self.port >> 8,
                  "p2": self.port & 255, "features": "".join(" %s\r\n" % f for f in features)}
        pieces = script if isinstance(script, tuple) else (script,)
        for piece in pieces:
            if isinstance(piece, float):
                time.sleep(piece)
            elif piece:
                self.send(piece % fields + "\r\n")
        return not any(str(piece).startswith(("221", "421")) for piece in pieces)

    def command(self, cmd, arg):
        path = self.absolute(arg)
        node = self.lookup(path)
        parent, name = self.parent_and_name(path)
        if cmd == "AUTH" and Server.tls:
            self.reply(234, "Proceed with negotiation.")
            self.conn = Server.tls.wrap_socket(self.conn, server_side=True)
        elif cmd in ("PBSZ", "PROT") and Server.tls:
            self.prot = self.prot or (cmd == "PROT" and arg.upper() == "P")
            self.reply(200, "Ok.")
        elif cmd in ("LIST", "MLSD"):
            self.list(cmd, arg)
        elif cmd == "ABOR" and self.held:
            if data := self.held.pop():
                self.close_data(data)
            self.send("426 Connection closed; transfer aborted.\r\n226 ABOR successful.\r\n")
        elif cmd == "RETR" and isinstance(node, bytes):
            self.send_data(node, name)
        elif cmd == "STOR" and isinstance(parent, dict):
            self.receive_data(parent, name)
        else:
            if cmd in ("RETR", "STOR"):
                self.close_passive()
            with LOCK:
                answer = self.change(cmd, arg, path, node, parent, name)
            self.send(answer + "\r\n")
        return True

    def change(self, cmd, arg, path, node, parent, name):
        """Does a command that needs no data connection; its answer."""
        word, _, count = arg.upper().partition(" ")
        if cmd == "CWD" and isinstance(node, dict):
            self.cwd = path
            return "250 Directory successfully changed."
        if cmd in ("SIZE", "MDTM") and isinstance(node, bytes):
            size = listed_size(name, node) if name.startswith("tls-cut") else len(node)
            return "213 " + ("20240101120000" if cmd == "MDTM" else str(size))
        if cmd == "MLST" and node is not None:
            return "250-Listing %s\r\n %s\r\n250 End." % (path, entry_line(path, node, True))
        if cmd == "MKD" and isinstance(parent, dict) and node is None:
            parent[name] = {}
            return '257 "%s" created' % path
        if cmd == "RNFR" and node is not None:
            self.rnfr = path
            return "350 Ready for RNTO."
        old_parent, old_name = self.parent_and_name(self.rnfr or "/")
        if cmd == "RNTO" and isinstance(parent, dict) and old_name in (old_parent or {}):
            parent[name] = old_parent.pop(old_name)
            return "250 Rename successful."
        if (cmd == "DELE" and isinstance(node, (bytes, str))) or (
                cmd == "RMD" and node == {} and not (self.cwd + "/").startswith(path + "/")):
            del parent[name]
            return "250 Ok."
        if cmd == "SITE" and word == "LONG":
            return "200 " + "L" * int(count)
        if cmd == "SITE" and word == "MANY":  # SITE MANY lines [width]
            lines, _, width = count.partition(" ")
            pad = "." * max(int(width or 0) - 12, 0)
            return "200-start\r\n%s200 end" % "".join(" line %d%s\r\n" % (i, pad)
                                                     for i in range(int(lines)))
        return "550 %s failed." % cmd if cmd in TREE_COMMANDS else "502 Command not implemented."

    def absolute(self, arg):
        path = arg if arg.startswith("/") else self.cwd + "/" + arg
        return "/" + "/".join(p for p in path.split("/") if p)

    def lookup(self, path):
        parts = [p for p in path.split("/") if p]
        if parts and all(p == "loop" for p in parts):
            return {"loop": {}, "f.txt": b"loop"}
        if path.startswith(("/big-", "/huge-")):
            return {}
        node = Server.tree
        for p in parts:
            if not isinstance(node, dict) or p not in node:
                return None
            node = node[p]
        return node

    def parent_and_name(self, path):
        cut = path.rfind("/")
        return self.lookup(path[:cut] or "/"), path[cut + 1:]

    def open_passive(self, cmd):
        """Listens on the control connection's own address, at self.port."""
        self.close_passive()
        self.pasv = socket.create_server((self.conn.getsockname()[0], 0), family=self.conn.family)
        self.pasv.settimeout(10)
        self.port = self.pasv.getsockname()[1]
        if cmd == "EPSV" and "epsv-dead" in self.modes:
            self.close_passive()
        elif cmd == "PASV" and "pasv-other" in self.modes:
            self.watch_trap()

    def close_passive(self):
        for sock in (self.pasv, self.trap):
            if sock:
                sock.close()
        self.pasv = self.trap = None

    def watch_trap(self):
        """Logs "TRAP <peer>" when anything connects to 127.0.0.2 at the port PASV named."""
        try:
            self.trap = trap = socket.create_server(("127.0.0.2", self.port))
        except OSError:
            return

        def wait():
            try:
                trap.settimeout(10)
                log("TRAP %s" % trap.accept()[1][0])
            except OSError:
                pass
        threading.Thread(target=wait, daemon=True).start()

    def open_data(self):
        """The data connection, or None after answering 425."""
        try:
            data = self.pasv.accept()[0]
        except (OSError, AttributeError):  # nobody came, or no listener
            self.reply(425, "Can't open data connection.")
            return None
        finally:
            if self.pasv:
                self.pasv.close()  # the trap, if any, keeps watching
            self.pasv = None
        with LOCK:
            DATA_OPEN[0] += 1
            log("DATA-OPEN %d" % DATA_OPEN[0])
        if not self.prot:
            return data
        data.settimeout(10)  # the handshake comes with the first use, after the 150
        return Server.tls.wrap_socket(data, server_side=True, do_handshake_on_connect=False)

    def close_data(self, data):
        data.close()
        with LOCK:
            DATA_OPEN[0] -= 1
        log("DATA-CLOSE")

    def stall(self):
        """Says 150 (after accepting the data connection, if passive), then nothing until ABOR."""
        self.held = [self.pasv and self.open_data()]
        return self.reply(150, "Opening data connection.")

    def send_data(self, payload, name=""):
        data = self.open_data()
        if data is not None:
            try:
                self.send_payload(data, payload, name)
            except OSError:
                pass
            finally:
                self.close_data(data)

    def send_payload(self, data, payload, name):
        half = payload[:len(payload) // 2]
        cut = name.startswith(("fail-", "reset")) or (name.startswith("tls-cut") and self.prot)
        payload = half if name.startswith("short") else payload
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
                return
            if name.startswith("tls-cut"):
                data.close()  # without close_notify
        elif name.startswith("trickle"):
            for i in range(len(payload)):
                data.sendall(payload[i:i + 1])
                time.sleep(1.0)
        else:
            send_bytes(data, payload, self.bytewise)
            if name.startswith("no226"):
                data.close()
                time.sleep(5)
                return
            data.unwrap() if self.prot else data.shutdown(socket.SHUT_WR)  # close_notify
        time.sleep(0.1 if cut else 0.01)
        failed = name.startswith(("fail-", "late-"))
        self.reply(int(name[5:8]) if failed else 226,
                   "Transfer %s." % ("failed" if failed else "complete"))
        time.sleep(0.1 if cut else 0)

    def receive_data(self, parent, name):
        drop = name.startswith("tls-drop") and self.prot  # reset after the first byte, then 426
        data = self.open_data()
        if data is None:
            return
        self.reply(150, "Ok to send data.")
        try:
            if drop:
                data.recv(1)
                data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                body = b"".join(iter(lambda: data.recv(65536), b""))
                with LOCK:
                    parent[name] = body
        finally:
            self.close_data(data)
        self.reply(426 if drop else 226, "Transfer %s." % ("aborted" if drop else "complete"))

    def listing(self, path, mlsd, hidden=True, prefix=""):
        name = path.rsplit("/", 1)[-1]
        if path.startswith("/huge-"):  # three entries, then one line of n MiB without a line end
            return self.listing("/three", False) + b"x" * (int(name[5:]) << 20)
        if path.startswith("/big-"):
            line = "-rw-r--r--    1 1000     1000     %8d Jan 01 12:00 file-%07d.dat\r\n"
            return b"".join(b(line % (i, i)) for i in range(int(name[4:])))
        with LOCK:
            items = list(self.lookup(path).items())
        lines = [entry_line(prefix + child, node, mlsd) for child, node in items
                 if shown(child, node, mlsd, hidden)]
        if path == "/evil":
            lines += (EVIL_MLSD if mlsd else []) + [entry_line(*e, mlsd) for e in EVIL]
        return b("".join(line + "\r\n" for line in lines))

    def list(self, cmd, arg):
        options = ""
        while arg.startswith("-") and "dash-a-name" not in self.modes:
            option, _, arg = arg.partition(" ")
            options += option
        path = self.absolute(arg) if arg else self.cwd
        node = self.lookup(path)
        name = path.rsplit("/", 1)[-1]
        refusal = None
        if cmd == "LIST" and "a" in options and "flaky" in path and not self.flaky_done:
            self.flaky_done = True
            refusal = (425, "Cannot open data connection.")
        elif ("dash-a-name" in self.modes and isinstance(node, bytes)) or (
                cmd == "LIST" and arg and "list-pattern" in self.modes and isinstance(node, dict)):
            self.send_data(b(entry_line(name, node, False) + "\r\n"))  # as "ls -d" would
            return
        elif not isinstance(node, dict):
            refusal = (550, "No such folder.")
        elif name.startswith("locked"):
            refusal = (550, "Permission denied.")
        elif not node and "empty-550" in self.modes:
            refusal = (550, "No files found.")
        if refusal:
            self.close_passive()
            self.reply(*refusal)
            return
        prefix = arg.rstrip("/") + "/" if cmd == "LIST" and arg and "list-prefix" in self.modes \
            else ""
        self.send_data(self.listing(path, cmd == "MLSD", cmd != "LIST" or "a" in options, prefix))


def main():
    parser = argparse.ArgumentParser()
    for option in ("--scenario", "--log", "--host", "--cert", "--key"):
        parser.add_argument(option)
    args = parser.parse_args()
    if args.cert:
        Server.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        Server.tls.load_cert_chain(args.cert, args.key)
    LOG[0] = args.log
    Server.modes = set(s for s in args.scenario.split(",") if s)
    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    listener = socket.create_server((args.host, 0), family=family, backlog=16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=Session(conn).run, daemon=True).start()


if __name__ == "__main__":
    main()
