#!/usr/bin/env python3
"""A static web server on loopback that sends each file at a fixed pace.

Usage: paced-server.py DIR BYTES_PER_SECOND
Serves the files of DIR on 127.0.0.1 at a free port and prints "listening on 127.0.0.1:PORT"
as its first line. Each answer's body goes out in slices, one every tenth of a second, so a
download of N bytes lasts about N / BYTES_PER_SECOND seconds: the demo's download stays on
the screen long enough to be pictured. Runs until it is ended (SIGTERM).
"""
import functools
import http.server
import sys
import time

TICK = 0.1


class PacedHandler(http.server.SimpleHTTPRequestHandler):
    pace = 1 << 20

    def copyfile(self, source, outputfile):
        slice_size = max(1, int(self.pace * TICK))
        while True:
            block = source.read(slice_size)
            if not block:
                return
            outputfile.write(block)
            outputfile.flush()
            time.sleep(TICK)

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        sys.stderr.write("%s\n" % (format % args).encode("ascii", "backslashreplace").decode())


def main(argv):
    if len(argv) != 3 or not argv[2].isdigit() or int(argv[2]) <= 0:
        print("usage: paced-server.py DIR BYTES_PER_SECOND", file=sys.stderr)
        return 2
    PacedHandler.pace = int(argv[2])
    handler = functools.partial(PacedHandler, directory=argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    print("listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
