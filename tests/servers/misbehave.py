#!/usr/bin/python3
"""A small scripted FTP server that misbehaves in ways a test chooses.

Usage: misbehave.py --mode MODE[,MODE...] [--user U] [--password P]
Prints the port it listens on (127.0.0.1), then serves every connection in its own thread
until it is terminated.

Modes:
  silent-command  greet and log in normally, then never answer another command
  pasv-malformed  EPSV is refused; PASV answers with a port byte above 255
  epsv-bad-port   EPSV names port 70000
  silent-quit     QUIT is never answered (the client waits for its time-out)
  idle-drop       after 1.5 s without a command, 421 and the connection is closed
Without a mode it is a plain, well-behaved server over a small in-memory folder.
"""

import argparse
import sys

import scripted_ftp

FILES = {
    "hello.txt": b"hello\r\nworld\r\n",
    "data.bin": bytes(range(256)) * 64,
}


class Session(scripted_ftp.Session):
    greeting = "misbehaving test server"
    def __init__(self, conn, modes, password):
        super().__init__(conn, modes, password)
        self.files = FILES
        if "idle-drop" in modes:
            self.idle_limit = 1.5

    def handle(self, line):
        if "silent-quit" in self.modes and line.partition(" ")[0].upper() == "QUIT":
            return True  # never answered, the connection stays open
        return super().handle(line)

    # --- data connections --------------------------------------------------------------
    def send_data(self, payload):
        data = self.open_data()
        if data is None:
            return
        self.reply(150, "Opening data connection.")
        try:
            data.sendall(payload)
            data.close()
        except OSError:
            data.close()
            self.reply(426, "Connection closed; transfer aborted.")
            return
        self.reply(226, "Transfer complete.")

    def receive_data(self, name):
        body = self.receive_upload()
        if body is None:
            return
        self.files[name] = body
        self.reply(226, "Transfer complete.")

    def listing(self):
        lines = []
        for name, body in self.files.items():
            lines.append("-rw-r--r--    1 1000     1000     %8d Jan 01 12:00 %s\r\n"
                         % (len(body), name))
        return "".join(lines).encode("utf-8", "surrogateescape")

    # --- commands ----------------------------------------------------------------------
    def command(self, cmd, arg):
        if "silent-command" in self.modes:
            return True  # never answered
        if cmd == "SYST":
            self.reply(215, "UNIX Type: L8")
        elif cmd in ("NOOP", "TYPE", "OPTS"):
            self.reply(200, "Ok.")
        elif cmd == "PWD":
            self.reply(257, '"/" is the current directory')
        elif cmd == "CWD":
            self.reply(250, "Directory successfully changed.")
        elif cmd == "EPSV":
            if "pasv-malformed" in self.modes:
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
                self.reply(227, "Entering Passive Mode (127,0,0,1,%d,%d)." % (port >> 8, port & 255))
        elif cmd in ("LIST", "NLST"):
            self.send_data(self.listing())
        elif cmd == "RETR":
            if arg in self.files:
                self.send_data(self.files[arg])
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", default="")
    parser.add_argument("--user", default="test")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    modes = set(m for m in args.mode.split(",") if m)

    scripted_ftp.serve(args.host, lambda conn: Session(conn, modes, args.password))


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
