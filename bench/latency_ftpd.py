#!/usr/bin/python3
"""A pyftpdlib server on 127.0.0.1 whose every reply on the control connection is held back
by a set delay, as if the client sat a round trip away: bench/compare.sh measures tree
transfers against it.

Usage: latency_ftpd.py --user NAME --password PASS --root FOLDER [--port N] [--delay-ms MS]
Prints the port it listens on (one line) once it accepts connections, then serves until it is
terminated.

The replies wait in the server's own event loop (a timer per connection), so the server keeps
serving other connections meanwhile and the replies of one connection leave in their order.
The data connections are not delayed: a file's bytes follow its 150 reply at once, as they
would over a link whose bandwidth is not the limit.
"""

import argparse
import collections
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class DelayedHandler(FTPHandler):
    delay = 0.010  # seconds

    def _queue(self):
        held = getattr(self, "_held", None)
        if held is None:
            held = self._held = collections.deque()
            self._close_after = False
        return held

    def push(self, s):
        held = self._queue()
        held.append((time.monotonic() + self.delay, s))
        if len(held) == 1:
            self.ioloop.call_later(self.delay, self._release)

    def _release(self):
        held = self._queue()
        if not self.connected:
            held.clear()
            return
        now = time.monotonic()
        while held and held[0][0] <= now:
            FTPHandler.push(self, held.popleft()[1])
        if held:
            self.ioloop.call_later(max(held[0][0] - now, 0.0), self._release)
        elif self._close_after:
            FTPHandler.close_when_done(self)

    def close_when_done(self):
        if self._queue():
            self._close_after = True  # after the last held reply (QUIT's 221)
        else:
            FTPHandler.close_when_done(self)


def main():
    parser = argparse.ArgumentParser(description="FTP server whose replies come late")
    for name in ("--user", "--password", "--root"):
        parser.add_argument(name, required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--delay-ms", type=float, default=10.0)
    args = parser.parse_args()
    if not 0 <= args.delay_ms <= 10000:
        parser.error("--delay-ms must be between 0 and 10000")

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    logging.getLogger("pyftpdlib").setLevel(logging.WARNING)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root),
                        perm="elradfmwMT")
    DelayedHandler.authorizer = authorizer
    DelayedHandler.delay = args.delay_ms / 1000.0
    DelayedHandler.banner = "bench server, replies %g ms late" % args.delay_ms
    DelayedHandler.timeout = 600

    server = FTPServer(("127.0.0.1", args.port), DelayedHandler)
    server.max_cons = 256
    server.max_cons_per_ip = 0
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
