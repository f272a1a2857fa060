"""What the scripted FTP test servers share: the control connection of one session (replies,
one passive listener, the login and the command loop) and the listening socket.

A server subclasses Session, answers the commands after the login in command(), and may
change the greeting, the login reply, FEAT and what happens to every line received.
"""

import socket
import threading
import time


def feat_reply(features):
    """The FEAT reply that offers the given features."""
    return "211-Features:\r\n" + "".join(" %s\r\n" % f for f in features) + "211 End\r\n"


def send_bytes(sock, data, bytewise, pause=0.0):
    """Sends data whole, or one byte at a time with a pause after each."""
    if not bytewise:
        sock.sendall(data)
        return
    for i in range(len(data)):
        sock.sendall(data[i:i + 1])
        if pause:
            time.sleep(pause)


class Session:
    # How text goes to bytes on the control connection and back.
    encoding = "utf-8"
    errors = "surrogateescape"
    # Seconds a passive listener waits for the client, and between bytes sent one by one.
    pasv_timeout = 30
    byte_pause = 0.0
    greeting = "test server"
    # Seconds without a command after which the server says 421 and closes (None: never).
    idle_limit = None
    features = ["EPSV", "PASV", "SIZE", "MDTM"]

    def __init__(self, conn, modes, password, bytewise=False):
        self.conn = conn
        self.modes = modes
        self.password = password
        self.bytewise = bytewise
        self.logged_in = False
        self.pasv = None

    # --- replies -----------------------------------------------------------------------
    def send(self, text):
        send_bytes(self.conn, text.encode(self.encoding, self.errors), self.bytewise,
                   self.byte_pause)

    def reply(self, code, text):
        self.send("%d %s\r\n" % (code, text))

    # --- data connections --------------------------------------------------------------
    def open_passive(self):
        """Listens on the control connection's own address; returns the port."""
        self.close_passive()
        local = self.conn.getsockname()[0]
        self.pasv = socket.socket(self.conn.family, socket.SOCK_STREAM)
        self.pasv.bind((local, 0))
        self.pasv.listen(1)
        self.pasv.settimeout(self.pasv_timeout)
        return self.pasv.getsockname()[1]

    def close_passive(self):
        if self.pasv:
            self.pasv.close()
        self.pasv = None

    def accept_data(self):
        """The data connection, or None (no listener, or nobody came)."""
        if not self.pasv:
            return None
        try:
            data, _ = self.pasv.accept()
        except OSError:
            return None
        finally:
            self.pasv.close()
            self.pasv = None
        return data

    def open_data(self):
        """The data connection, or None after answering 425."""
        data = self.accept_data()
        if data is None:
            self.reply(425, "Can't open data connection.")
        return data

    def close_data(self, data):
        data.close()

    def receive_upload(self):
        """Says 150 and reads the data connection to its end: the bytes, or None (425 said).
        The caller stores them and says 226."""
        data = self.open_data()
        if data is None:
            return None
        self.reply(150, "Ok to send data.")
        chunks = []
        try:
            while True:
                chunk = data.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        finally:
            self.close_data(data)
        return b"".join(chunks)

    # --- commands ----------------------------------------------------------------------
    def welcome(self):
        self.reply(230, "Login successful.")

    def feat(self):
        return feat_reply(self.features)

    def greet(self):
        self.reply(220, self.greeting)

    def received(self, line):
        """Sees every command line before it is handled."""

    def command(self, cmd, arg):
        """Answers a command after the login; False closes the connection."""
        self.reply(502, "Command not implemented.")
        return True

    def handle(self, line):
        cmd, _, arg = line.partition(" ")
        cmd = cmd.upper()
        if cmd == "QUIT":
            self.reply(221, "Goodbye.")
            return False
        if cmd == "USER":
            self.reply(331, "Please specify the password.")
            return True
        if cmd == "PASS":
            if arg != self.password:
                self.reply(530, "Login incorrect.")
                return True
            self.logged_in = True
            self.welcome()
            return True
        if cmd == "FEAT":
            self.send(self.feat())
            return True
        if not self.logged_in:
            self.reply(530, "Please login with USER and PASS.")
            return True
        return self.command(cmd, arg)

    def run(self):
        try:
            if "no-greeting" in self.modes:
                while self.conn.recv(4096):
                    pass
                return
            self.greet()
            self.conn.settimeout(self.idle_limit)
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
                    line = raw.rstrip(b"\r").decode(self.encoding, self.errors)
                    self.received(line)
                    if not self.handle(line):
                        return
        except OSError:
            pass
        finally:
            self.close_passive()
            try:
                self.conn.close()
            except OSError:
                pass


def serve(host, new_session):
    """Listens on host, prints the port, and runs new_session(conn).run for every connection
    in its own thread until the process is ended."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((host, 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=new_session(conn).run, daemon=True).start()
