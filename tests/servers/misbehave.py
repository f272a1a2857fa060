#!/usr/bin/python3
"""A small scripted FTP server that misbehaves in ways a test chooses.

Usage: misbehave.py --mode MODE[,MODE...] [--user U] [--password P]
Prints the port it listens on (127.0.0.1), then serves every connection in its own thread
until it is terminated.

Modes:
  no-greeting     accept and never say anything
  silent-command  greet and log in normally, then never answer another command
  byte-at-a-time  every reply goes out one byte at a time
  trickle         data connections send one byte a second
  epsv-refused    EPSV is refused; PASV names a third host's address
  pasv-malformed  EPSV is refused; PASV answers with a port byte above 255
  epsv-bad-port   EPSV names port 70000
  short-data      RETR sends fewer bytes than SIZE announced, then 226
  no-final        RETR sends all the data but never the final reply
  fail-after-150  RETR says 150, closes the data connection and says 451
  early-226       RETR sends 150 and 226 in one segment before any data
  421-after-login every command after the login gets 421 and the connection closes
  reset-in-retr   RETR sends part of the data, then resets the control connection
Without a mode it is a plain, well-behaved server over a small in-memory folder.
"""

import argparse
import socket
import struct
import sys
import threading
import time

FILES = {
    "hello.txt": b"hello\r\nworld\r\n",
    "data.bin": bytes(range(256)) * 64,
}


class Session:
    def __init__(self, conn, modes, user, password):
        self.conn = conn
        self.modes = modes
        self.user = user
        self.password = password
        self.logged_in = False
        self.pasv = None
        self.files = FILES

    # --- replies -----------------------------------------------------------------------
    def send(self, text):
        data = text.encode("utf-8", "surrogateescape")
        if "byte-at-a-time" in self.modes:
            for i in range(len(data)):
                self.conn.sendall(data[i:i + 1])
                time.sleep(0.001)
        else:
            self.conn.sendall(data)

    def reply(self, code, text):
        self.send("%d %s\r\n" % (code, text))

    # --- data connections --------------------------------------------------------------
    def open_passive(self):
        if self.pasv:
            self.pasv.close()
        local = self.conn.getsockname()[0]
        self.pasv = socket.socket(self.conn.family, socket.SOCK_STREAM)
        self.pasv.bind((local, 0))
        self.pasv.listen(1)
        self.pasv.settimeout(30)
        return self.pasv.getsockname()[1]

    def accept_data(self):
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

    def send_data(self, payload, retr=False):
        data = self.accept_data()
        if data is None:
            self.reply(425, "Can't open data connection.")
            return
        if retr and "early-226" in self.modes:
            self.send("150 Opening data connection.\r\n226 Transfer complete.\r\n")
            time.sleep(0.2)
            data.sendall(payload)
            data.close()
            return
        if retr and "fail-after-150" in self.modes:
            self.reply(150, "Opening data connection.")
            data.close()
            self.reply(451, "Local error in processing.")
            return
        if retr and "reset-in-retr" in self.modes:
            self.reply(150, "Opening data connection.")
            data.sendall(payload[:len(payload) // 2])
            self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                 struct.pack("ii", 1, 0))
            self.conn.close()
            data.close()
            raise OSError("reset")
        if retr and "short-data" in self.modes:
            payload = payload[:-10]
        self.reply(150, "Opening data connection.")
        try:
            if "trickle" in self.modes:
                for i in range(len(payload)):
                    data.sendall(payload[i:i + 1])
                    time.sleep(1.0)
            else:
                data.sendall(payload)
            data.close()
        except OSError:
            data.close()
            self.reply(426, "Connection closed; transfer aborted.")
            return
        if retr and "no-final" in self.modes:
            return
        self.reply(226, "Transfer complete.")

    def receive_data(self, name):
        data = self.accept_data()
        if data is None:
            self.reply(425, "Can't open data connection.")
            return
        self.reply(150, "Ok to send data.")
        chunks = []
        while True:
            chunk = data.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
        data.close()
        self.files[name] = b"".join(chunks)
        self.reply(226, "Transfer complete.")

    def listing(self):
        lines = []
        for name, body in self.files.items():
            lines.append("-rw-r--r--    1 1000     1000     %8d Jan 01 12:00 %s\r\n"
                         % (len(body), name))
        return "".join(lines).encode("utf-8", "surrogateescape")

    # --- commands ----------------------------------------------------------------------
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
            if arg == self.password:
                self.logged_in = True
                self.reply(230, "Login successful.")
            else:
                self.reply(530, "Login incorrect.")
            return True
        if cmd == "FEAT":
            self.send("211-Features:\r\n EPSV\r\n PASV\r\n SIZE\r\n MDTM\r\n211 End\r\n")
            return True
        if not self.logged_in:
            self.reply(530, "Please login with USER and PASS.")
            return True
        if "silent-command" in self.modes:
            return True  # never answered
        if "421-after-login" in self.modes:
            self.reply(421, "Service not available, closing control connection.")
            return False
        if cmd == "SYST":
            self.reply(215, "UNIX Type: L8")
        elif cmd in ("NOOP", "TYPE", "OPTS"):
            self.reply(200, "Ok.")
        elif cmd == "PWD":
            self.reply(257, '"/" is the current directory')
        elif cmd == "CWD":
            self.reply(250, "Directory successfully changed.")
        elif cmd == "EPSV":
            if self.modes & {"epsv-refused", "pasv-malformed"}:
                self.reply(500, "EPSV not understood.")
            elif "epsv-bad-port" in self.modes:
                self.reply(229, "Entering Extended Passive Mode (|||70000|)")
            else:
                self.reply(229, "Entering Extended Passive Mode (|||%d|)" % self.open_passive())
        elif cmd == "PASV":
            port = self.open_passive()
            if "pasv-malformed" in self.modes:
                self.reply(227, "Entering Passive Mode (127,0,0,1,300,1).")
            else:
                host = "10,0,0,99" if "epsv-refused" in self.modes else "127,0,0,1"
                self.reply(227, "Entering Passive Mode (%s,%d,%d)." % (host, port >> 8, port & 255))
        elif cmd in ("LIST", "NLST"):
            self.send_data(self.listing())
        elif cmd == "RETR":
            if arg in self.files:
                self.send_data(self.files[arg], retr=True)
            else:
                self.reply(550, "Failed to open file.")
        elif cmd == "STOR":
            self.receive_data(arg)
        elif cmd == "SIZE":
            if arg in self.files:
                self.reply(213, str(len(self.files[arg])))
            else:
                self.reply(550, "Could not get file size.")
        elif cmd == "MDTM":
            if arg in self.files:
                self.reply(213, "20240101120000")
            else:
                self.reply(550, "Could not get file modification time.")
        elif cmd in ("DELE", "RMD", "RNTO"):
            self.reply(250, "Ok.")
        elif cmd == "MKD":
            self.reply(257, '"%s" created' % arg)
        elif cmd == "RNFR":
            self.reply(350, "Ready for RNTO.")
        else:
            self.reply(502, "Command not implemented.")
        return True

    def run(self):
        try:
            if "no-greeting" in self.modes:
                while self.conn.recv(4096):
                    pass
                return
            self.reply(220, "misbehaving test server")
            buf = b""
            while True:
                chunk = self.conn.recv(4096)
                if not chunk:
                    return
                buf += chunk
                while b"\n" in buf:
                    raw, buf = buf.split(b"\n", 1)
                    line = raw.rstrip(b"\r").decode("utf-8", "surrogateescape")
                    if not self.handle(line):
                        return
        except OSError:
            pass
        finally:
            self.conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="")
    parser.add_argument("--user", default="test")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    modes = set(m for m in args.mode.split(",") if m)

    family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        session = Session(conn, modes, args.user, args.password)
        threading.Thread(target=session.run, daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
