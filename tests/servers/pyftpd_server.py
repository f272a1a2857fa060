#!/usr/bin/python3
"""A pyftpdlib server on a loopback port for the tests.

Usage: pyftpd_server.py --user NAME --password PASS --root FOLDER
                        [--certfile PEM --keyfile PEM [--implicit]]
With a certificate it speaks FTPS: explicit (AUTH TLS), or implicit (TLS from the first byte).
Prints its port once it accepts connections, then serves until it is terminated.
"""

import argparse
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    for option in ("--user", "--password", "--root"):
        parser.add_argument(option, required=True)
    parser.add_argument("--certfile")
    parser.add_argument("--keyfile")
    parser.add_argument("--implicit", action="store_true")
    args = parser.parse_args()
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)

    class Handler(TLS_FTPHandler if args.certfile else FTPHandler):
        if args.implicit:
            # TLS from the first byte: the greeting waits for the handshake.
            def handle(self):
                self.secure_connection(self.ssl_context)

            def handle_ssl_established(self):
                TLS_FTPHandler.handle(self)

    if args.certfile:
        Handler.certfile = args.certfile
        Handler.keyfile = args.keyfile
        Handler.tls_control_required = Handler.tls_data_required = True
    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_user(args.user, args.password, os.path.abspath(args.root),
                                perm="elradfmwMT")
    Handler.banner = "oxlip test server ready."
    Handler.timeout = 600
    Handler.use_sendfile = False

    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 256
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
