#!/usr/bin/python3
"""pyftpd_server.py USER PASSWORD ROOT [--certfile PEM --keyfile PEM [--implicit]]: a pyftpdlib
server on a free loopback port (FTPS with a certificate) that prints its port once it listens."""

import argparse
import logging
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    for argument in ("user", "password", "root", "--certfile", "--keyfile"):
        parser.add_argument(argument)
    parser.add_argument("--implicit", action="store_true")
    args = parser.parse_args()
    logging.basicConfig(level=logging.WARNING)

    class Handler(TLS_FTPHandler if args.certfile else FTPHandler):
        if args.implicit:
            def handle(self):
                self.secure_connection(self.ssl_context)

            def handle_ssl_established(self):
                TLS_FTPHandler.handle(self)  # the greeting, after the handshake

    if args.certfile:
        Handler.certfile = args.certfile
        Handler.keyfile = args.keyfile
        Handler.tls_control_required = Handler.tls_data_required = True
    Handler.authorizer = DummyAuthorizer()
    Handler.authorizer.add_user(args.user, args.password, os.path.abspath(args.root),
                                perm="elradfmwMT")
    Handler.use_sendfile = False

    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
