#!/usr/bin/python3
"""A pyftpdlib server whose folder listings carry extra, crafted entries.

Usage: hostile_listing.py --user U --password P --root FOLDER --entry /FOLDER=FACTS [...]
Each --entry adds one MLSD facts line (for example "type=file;size=7; ../escape.txt") to the
listing of that folder. Prints the port it listens on, then serves until terminated.
"""

import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

EXTRA = {}


class HostileFS(AbstractedFS):
    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        for line in super().format_mlsx(basedir, listing, perms, facts, ignore_err):
            yield line
        folder = self.fs2ftp(basedir).rstrip("/") or "/"
        for facts_line in EXTRA.get(folder, []):
            yield (facts_line + "\r\n").encode("utf-8")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--entry", action="append", default=[])
    args = parser.parse_args()
    for item in args.entry:
        folder, line = item.split("=", 1)
        EXTRA.setdefault(folder.rstrip("/") or "/", []).append(line)

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root), perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.abstracted_fs = HostileFS
    Handler.use_sendfile = False
    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
