#!/usr/bin/env python3
"""A real FTP server on 127.0.0.1 for the integration tests.

Serves one folder to one account on a free port, prints that port on stdout once it is
listening, and stops when its standard input closes, so a test that dies never leaves a
server behind.
"""
import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

FULL_RIGHTS = "elradfmwMT"


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--no-mlsd", action="store_true",
                        help="hide MLSD/MLST, so clients must fall back to LIST")
    parser.add_argument("--passive-only", action="store_true",
                        help="refuse PORT and EPRT")
    parser.add_argument("--active-only", action="store_true",
                        help="refuse PASV and EPSV")
    parser.add_argument("--read-only", action="store_true")
    parser.add_argument("--no-rename", action="store_true",
                        help="every right but renaming, as a site that may write and delete")
    parser.add_argument("--ipv6", action="store_true", help="listen on ::1")
    parser.add_argument("--tls-cert",
                        help="PEM file with certificate chain and key: offer AUTH TLS")
    parser.add_argument("--tls-required", action="store_true",
                        help="refuse USER before AUTH TLS, data connections before PROT P "
                        "and data connections that do not resume the control connection's "
                        "TLS session, as strict servers do")
    return parser.parse_args()


def make_handler(args):
    rights = "elr" if args.read_only else FULL_RIGHTS
    if args.no_rename:
        rights = rights.replace("f", "")
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm=rights)
    if args.anonymous:
        authorizer.add_anonymous(args.root, perm=rights)

    hidden = set()
    if args.no_mlsd:
        hidden |= {"MLSD", "MLST"}
    if args.passive_only:
        hidden |= {"PORT", "EPRT"}
    if args.active_only:
        hidden |= {"PASV", "EPSV"}

    base = TLS_FTPHandler if args.tls_cert else FTPHandler

    class Handler(base):
        # A command missing from proto_cmds is answered "500 Command not understood"
        # and left out of FEAT, as a server without it would behave.
        proto_cmds = {k: v for k, v in base.proto_cmds.items() if k not in hidden}

    if args.tls_cert:
        Handler.certfile = args.tls_cert
        Handler.tls_control_required = args.tls_required
        Handler.tls_data_required = args.tls_required
        Handler.dtp_handler = SessionReusingDTP if args.tls_required else TolerantDTP

    Handler.authorizer = authorizer
    Handler.banner = "ZUL-FTP test server ready."
    Handler.permit_foreign_addresses = False
    Handler.timeout = 60
    return Handler


class TolerantDTP(TLS_DTPHandler):
    """Lets a data connection's TLS handshake begin before the transfer command arrives, as
    curl begins it; the stock handler closes such a connection (pyftpdlib issue 604)."""

    def readable(self):
        if self._ssl_accepting or self._ssl_want_read:
            return True
        if not self.receive and not self._initialized:
            return False  # handshake done early: wait for the command instead of closing
        return super().readable()


class SessionReusingDTP(TolerantDTP):
    """Refuses a data connection whose TLS session is not the control connection's, which
    keeps a third party from taking over the data connection."""

    def handle_ssl_established(self):
        from OpenSSL._util import lib
        if not lib.SSL_session_reused(self.socket._ssl):
            self.cmd_channel.respond("522 Data connection must reuse the TLS session.")
            self.close()


def stop_when_stdin_closes(server):
    def watch():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except OSError:
            pass
        server.close_all()
        os._exit(0)

    threading.Thread(target=watch, daemon=True).start()


def main():
    args = parse_args()
    logging.basicConfig(level=logging.ERROR, stream=sys.stderr)
    logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
    address = ("::1", 0) if args.ipv6 else ("127.0.0.1", 0)
    server = FTPServer(address, make_handler(args))
    server.max_cons = 64
    print(server.socket.getsockname()[1], flush=True)
    stop_when_stdin_closes(server)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
