#!/usr/bin/python3
"""A pyftpdlib server on a loopback port for the tests.

Usage: pyftpd_server.py --user NAME --password PASS --root FOLDER [--port N]
Prints the port it listens on (one line) once it accepts connections, then serves until it
is terminated.
"""

import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root),
                        perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "oxlip test server ready."
    Handler.timeout = 600
    Handler.use_sendfile = False

    server = FTPServer(("127.0.0.1", args.port), Handler)
    server.max_cons = 256
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
