#!/usr/bin/env python3
"""A scriptable FTP server on 127.0.0.1 that misbehaves on demand.

It speaks just enough FTP for a client to log in, move around, list and transfer, and a
JSON script (file named by --script) overrides the answer to any command: split replies,
multi-line replies, a foreign PASV address, silence, a dropped connection, 4xx/5xx, an
endless line, hostile listings. Every command it receives is appended to --log, one per
line, so a test can compare the exact command sequence. Prints its port on stdout once
listening and exits when stdin closes.

Script keys:
  features: lines of the FEAT reply (default none: FEAT answers 502)
  pwd: the directory PWD reports (default "/")
  files: {name: text} served by RETR after any REST offset, sized by SIZE ("@N" serves N
    pattern bytes). What STOR and APPE receive is kept too (up to a dropAfter point: what a
    server wrote before the connection broke), moved by RNFR/RNTO, removed by DELE, and
    served and sized the same way
  listing: the text LIST and MLSD send
  listings: [text, ...] in place of listing: each listing takes the next, the last one stays
  manyEntries: {"count": N, "line": "type=file;size=1; f%d"}: N generated lines (CR LF
    added), sent after the listing text
  rules: {VERB: [rule, ...]}; each use takes the next rule, the last one stays.
  noRename: true, to refuse RNFR and RNTO ("550 Permission denied."), as a server whose
    user may write and delete but not rename
  mdtm: {name: "YYYYMMDDHHMMSS"} answered by MDTM for a file of "files"; a file that STOR
    or APPE wrote gets a new time of its own each time (kept through RNFR/RNTO), and a
    file with neither answers "20200101000000"
  followCwd: true, for PWD to follow the CWD and CDUP the server accepted (from "pwd" on)
  tree: {"/dir": text or {"LIST": text, "MLSD": text}}: the folders of a server; implies
    followCwd, a CWD to a folder not in it is refused, LIST and MLSD send the current
    folder's text, and each DELE or RMD is logged as "DELETED /dir/name" ("REMOVED ...")
  cwdTo: {"/dir/name": "/elsewhere"}: where a CWD into that folder really lands (a link)
  pwdAs: {"/dir": "/text"}: what PWD says while in that folder, in place of its path
  refuse: ["/dir/name", ...]: DELE and RMD of these are answered 550
  latin1: true, to read and write every text byte for byte (U+0000-U+00FF), so a
    script can hold names that are not UTF-8; the log then shows each byte as that
    character
  maxSessions: N, to serve connections side by side (each on a thread of its own) and to
    answer one beyond N open at once "421 Too many connections (N) from this IP" and close it,
    as a server limiting connections per client does
A rule may have:
  reply: text sent as is after the command (CR LF added to each line without one)
  chunks: list of texts sent one by one with a pause between, in place of reply
  pause: seconds between the chunks (default 0.05)
  silent: true, to send nothing at all
  close: true, to drop the control connection after the reply (or instead of one)
  endless: true, to send one line that never ends
  endlessLines: true, to send a multi-line reply whose last line never comes
  pasvHost: "h1,h2,h3,h4" named in a 227 reply (the listener is still on 127.0.0.1)
  dropAfter: for RETR/LIST/MLSD/STOR/APPE, bytes to move before dropping both connections
  keep: for STOR/APPE, bytes kept of what arrives (the rest is read and dropped, as by a
    server whose disk filled; pair it with a "final" error reply)
  stallAfter: like dropAfter, but then the server goes quiet and keeps both open
  sharedRules: true, for all connections to take their rules from one list, so that a rule
    is used once by whichever connection comes first (a retry's new connection gets the next)
  throttle: for STOR/APPE, seconds the server waits after each block it reads, so an upload
    runs long enough for a client to stop it midway
  cutAfter: for RETR, bytes to send before closing the data connection alone and
    replying 426; the control connection stays
  trickle: for RETR/LIST/MLSD, seconds between single bytes of the data; a client that
    closes the data connection meanwhile gets 426 at once, as from a server that watches it
  final: the reply after the data (default "226 Transfer complete.")
  tls: for AUTH, after the reply the control connection becomes TLS with the certificate
       and key of the PEM file "tlsCert" (a top-level key); bytes the rule's reply puts
       after the first line still go out in clear, before the handshake; after "PROT P"
       the data connections are TLS too, and an upload counts as stored only when it ends
       with the client's close_notify
  implicitTls: true (a top-level key, with "tlsCert"): the control connection is TLS from its
    first byte, before the greeting, as on port 990; PROT P then protects data connections
  ignoreRest: for RETR, true to send the whole file from its first byte although REST was
    answered 350, as a server that takes REST but forgets it does
  aborted: for RETR/STOR, the reply when the client breaks the data connection off (default
    "426 Connection closed; transfer aborted."); null sends nothing, as some servers do, and
    leaves the answer to the ABOR that follows (set with a rule for ABOR)
"""
import argparse
import json
import os
import posixpath
import select
import socket
import ssl
import sys
import threading
import time

PAUSE = 0.05
STALL = 15  # longer than any time-out a test sets

# Modification times of the files that uploads wrote, shared by all sessions like `stored`.
STAMPS = {}
STAMP_COUNTER = [0]
# The rules of a script with "sharedRules": one list for every connection.
SHARED_RULES = {}


def new_stamp():
    STAMP_COUNTER[0] += 1
    return "20261210%06d" % STAMP_COUNTER[0]


class Session:
    def __init__(self, conn, script, log, stored):
        self.conn = conn
        self.stored = stored  # name -> bytes uploaded, shared by all sessions
        self.script = script
        self.log = log
        self.rules = {k.upper(): list(v) for k, v in script.get("rules", {}).items()}
        if script.get("sharedRules"):
            self.rules = SHARED_RULES.setdefault("rules", self.rules)
        self.listener = None
        self.active_target = None
        self.rename_from = None
        self.restart = 0
        self.tls_context = None
        self.protect_data = False
        self.listings = list(script.get("listings", [script.get("listing", "")]))
        self.codec = ("latin-1", "strict") if script.get("latin1") else ("utf-8", "surrogateescape")
        self.tree = script.get("tree")
        self.follow_cwd = bool(self.tree) or bool(script.get("followCwd"))
        self.cwd = script.get("pwd", "/")

    # ---- plumbing
    def send_raw(self, data):
        if isinstance(data, str):
            data = data.encode(*self.codec)
        self.conn.sendall(data)

    def send_text(self, text):
        lines = text.replace("\r\n", "\n").split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        self.send_raw("".join(line + "\r\n" for line in lines))

    def take_rule(self, verb):
        queue = self.rules.get(verb)
        if not queue:
            return {}
        return queue.pop(0) if len(queue) > 1 else queue[0]

    def deliver(self, rule, default):
        """Sends the rule's answer or the default one. False: the connection is gone."""
        if rule.get("endless"):
            try:
                self.send_raw("500 ")
                block = b"x" * 65536
                deadline = time.time() + 20
                while time.time() < deadline:
                    self.conn.sendall(block)
            except OSError:
                pass
            return False
        if rule.get("endlessLines"):
            try:
                deadline = time.time() + 20
                while time.time() < deadline:
                    self.send_raw("211-still going\r\n" * 1024)
            except OSError:
                pass
            return False
        if rule.get("silent"):
            return not rule.get("close")
        if "chunks" in rule:
            for chunk in rule["chunks"]:
                try:
                    self.send_raw(chunk)
                except OSError:  # the client gave up waiting
                    return False
                time.sleep(rule.get("pause", PAUSE))
        elif "reply" in rule:
            self.send_text(rule["reply"])
        elif default is not None:
            self.send_text(default)
        return not rule.get("close")

    # ---- data connections
    def open_passive(self):
        if self.listener:
            self.listener.close()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(10)
        self.active_target = None
        return self.listener.getsockname()[1]

    def data_socket(self):
        if self.active_target:
            target, self.active_target = self.active_target, None
            return self.protect(socket.create_connection(target, timeout=10))
        if not self.listener:
            return None
        listener, self.listener = self.listener, None
        try:
            sock, _ = listener.accept()
            sock.settimeout(10)
            return self.protect(sock)
        finally:
            listener.close()

    def protect(self, sock):
        if not self.protect_data:
            return sock
        # A bare end of the TCP stream is an error, not the end of the data.
        return self.tls_context.wrap_socket(sock, server_side=True, suppress_ragged_eofs=False)

    def payload(self, verb, argument):
        if verb in ("LIST", "MLSD", "NLST") and self.tree:
            listing = self.tree.get(self.cwd, "")
            if isinstance(listing, dict):
                listing = listing.get(verb, listing.get("LIST", ""))
            return listing.encode(*self.codec)
        if verb in ("LIST", "MLSD", "NLST"):
            listing = self.listings.pop(0) if len(self.listings) > 1 else self.listings[0]
            return listing.encode(*self.codec)
        text = self.script.get("files", {}).get(argument)
        if text is None:
            return self.stored.get(argument)
        if text.startswith("@"):
            size = int(text[1:])
            pattern = bytes(range(251)) * (size // 251 + 1)
            return pattern[:size]
        return text.encode(*self.codec)

    def transfer(self, verb, argument, rule):
        data = None
        restart, self.restart = self.restart, 0
        if verb not in ("STOR", "APPE"):
            data = self.payload(verb, argument)
            if data is None:
                return self.deliver(rule, "550 No such file.")
            if not rule.get("ignoreRest"):
                data = data[restart:]
        if rule.get("silent"):
            return not rule.get("close")
        if not self.deliver(rule, "150 Opening data connection."):
            return False
        if "reply" in rule or "chunks" in rule:
            if not rule.get("reply", "150").startswith("1"):
                return True  # refused; no data connection
        sock = self.data_socket()
        if sock is None:
            self.send_text("425 No data connection.")
            return True
        drop = rule.get("dropAfter")
        stall = rule.get("stallAfter")
        trickle = rule.get("trickle")
        try:
            if verb in ("STOR", "APPE"):
                received = 0
                kept = self.stored.get(argument, bytearray()) if verb == "APPE" else bytearray()
                self.stored[argument] = kept
                while True:
                    block = sock.recv(65536)
                    if not block:
                        break
                    keep = rule.get("keep", drop)
                    if keep is not None:
                        block = block[:max(0, keep - received)]
                    received += len(block)
                    kept += block
                    if rule.get("throttle"):
                        time.sleep(rule["throttle"])
                    if stall is not None and received >= stall:
                        time.sleep(STALL)
                        return False
                    if drop is not None and received >= drop:
                        sock.close()
                        return False
                STAMPS[argument] = new_stamp()
                self.log_line("%s %s %d" % ("STORED" if verb == "STOR" else "APPENDED",
                                            argument, received))
            elif trickle is not None:
                for i in range(len(data)):
                    sock.sendall(data[i:i + 1])
                    readable, _, _ = select.select([sock], [], [], trickle)
                    if readable:
                        raise OSError("the client closed the data connection")
            else:
                if stall is not None:
                    sock.sendall(data[:stall])
                    time.sleep(STALL)
                    return False
                cut = rule.get("cutAfter")
                if cut is not None:
                    sock.sendall(data[:cut])
                    time.sleep(PAUSE)
                    sock.close()
                    self.send_text("426 Connection closed; transfer aborted.")
                    return True
                if drop is not None:
                    sock.sendall(data[:drop])
                    time.sleep(PAUSE)
                    sock.close()
                    return False
                sock.sendall(data)
                if verb != "RETR":
                    self.send_many(sock)
        except OSError:
            sock.close()
            aborted = rule.get("aborted", "426 Connection closed; transfer aborted.")
            if aborted is not None:
                self.send_text(aborted)
            return True
        sock.close()
        self.send_text(rule.get("final", "226 Transfer complete."))
        return True

    def send_many(self, sock):
        # Made while it is sent: millions of lines take seconds to make on a loaded machine,
        # longer than a client waits for the first byte.
        many = self.script.get("manyEntries")
        if not many:
            return
        before, _, after = (many["line"] + "\r\n").encode("utf-8", "surrogateescape").partition(b"%d")
        for start in range(0, many["count"], 10000):
            end = min(start + 10000, many["count"])
            sock.sendall(b"".join(before + b"%d" % i + after for i in range(start, end)))

    # ---- commands
    def handle(self, line):
        verb, _, argument = line.partition(" ")
        verb = verb.upper()
        rule = self.take_rule(verb)
        if verb in ("RETR", "STOR", "APPE", "LIST", "MLSD", "NLST"):
            return self.transfer(verb, argument, rule)
        if verb == "REST" and not rule and argument.isdigit():
            self.restart = int(argument)
            return self.deliver(rule, "350 Restarting at %d." % self.restart)
        if verb == "SIZE" and not rule:
            data = self.payload(verb, argument)
            return self.deliver(rule, "550 No such file." if data is None
                                else "213 %d" % len(data))
        if verb == "MDTM" and not rule:
            if self.payload(verb, argument) is None:
                return self.deliver(rule, "550 No such file.")
            stamp = STAMPS.get(argument) or self.script.get("mdtm", {}).get(argument)
            return self.deliver(rule, "213 %s" % (stamp or "20200101000000"))
        if verb in ("RNFR", "RNTO") and not rule and self.script.get("noRename"):
            return self.deliver(rule, "550 Permission denied.")
        if verb == "AUTH" and rule.get("tls"):
            if not self.deliver(rule, "234 AUTH TLS successful."):
                return False
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(self.script["tlsCert"])
            # A bare end of the TCP stream on a data connection is an error, not the end of
            # the data: only close_notify ends an upload in order.
            context.options &= ~ssl.OP_IGNORE_UNEXPECTED_EOF
            self.tls_context = context
            self.conn = context.wrap_socket(self.conn, server_side=True)
            return True
        if verb == "PROT" and self.tls_context and not rule:
            self.protect_data = argument.upper() == "P"
            return self.deliver(rule, "200 Protection level set.")
        if verb == "PASV" and not ("reply" in rule or "silent" in rule or "chunks" in rule):
            port = self.open_passive()
            host = rule.get("pasvHost", "127,0,0,1")
            return self.deliver(rule, "227 Entering Passive Mode (%s,%d,%d)."
                                % (host, port // 256, port % 256))
        if verb == "EPSV" and not ("reply" in rule or "silent" in rule or "chunks" in rule):
            port = self.open_passive()
            return self.deliver(rule, "229 Entering Extended Passive Mode (|||%d|)." % port)
        if verb in ("PORT", "EPRT") and not rule:
            self.active_target = self.parse_active(verb, argument)
            return self.deliver(rule, "200 Active data connection set up.")
        if self.follow_cwd and not rule and verb in ("CWD", "CDUP", "PWD", "DELE", "RMD"):
            return self.handle_in_tree(verb, argument)
        if verb == "RNFR" and not rule:
            self.rename_from = argument
        elif verb == "RNTO" and not rule and self.rename_from in self.stored:
            self.stored[argument] = self.stored.pop(self.rename_from)
            if self.rename_from in STAMPS:
                STAMPS[argument] = STAMPS.pop(self.rename_from)
        elif verb == "DELE" and not rule:
            self.stored.pop(argument, None)
            STAMPS.pop(argument, None)
        features = self.script.get("features")
        defaults = {
            "USER": "331 Password required.",
            "PASS": "230 Logged in.",
            "FEAT": ("211-Features:\n" + "".join(" %s\n" % f for f in features) + "211 End")
            if features is not None else "502 No FEAT here.",
            "OPTS": "200 OK.",
            "TYPE": "200 Type set.",
            "PWD": '257 "%s" is the current directory.'
                   % self.script.get("pwd", "/").replace('"', '""'),
            "CWD": "250 Directory changed.",
            "CDUP": "250 Directory changed.",
            "MKD": '257 "%s" created.' % argument,
            "RMD": "250 Removed.",
            "DELE": "250 Deleted.",
            "RNFR": "350 Ready for RNTO.",
            "RNTO": "250 Renamed.",
            "ABOR": "226 Nothing to abort.",
            "NOOP": "200 OK.",
            "QUIT": "221 Goodbye.",
        }
        alive = self.deliver(rule, defaults.get(verb, "500 Unknown command."))
        return alive and verb != "QUIT"

    def handle_in_tree(self, verb, argument):
        """CWD, CDUP, PWD, DELE and RMD of a server whose current directory moves."""
        if verb == "PWD":
            shown = self.script.get("pwdAs", {}).get(self.cwd, self.cwd)
            return self.deliver({}, '257 "%s" is the current directory.' % shown.replace('"', '""'))
        name = ".." if verb == "CDUP" else argument
        path = posixpath.normpath(posixpath.join(self.cwd, name)).replace("//", "/")
        if verb in ("DELE", "RMD"):
            if path in self.script.get("refuse", []):
                return self.deliver({}, "550 Permission denied.")
            if verb == "DELE" and self.tree and path in self.tree:
                return self.deliver({}, "550 Is a folder.")
            self.stored.pop(argument, None)
            if self.tree:
                self.log_line("%s %s" % ("DELETED" if verb == "DELE" else "REMOVED", path))
            return self.deliver({}, "250 Deleted." if verb == "DELE" else "250 Removed.")
        path = self.script.get("cwdTo", {}).get(path, path)
        if self.tree and path not in self.tree:
            return self.deliver({}, "550 No such folder.")
        self.cwd = path
        return self.deliver({}, "250 Directory changed.")

    @staticmethod
    def parse_active(verb, argument):
        if verb == "PORT":
            parts = [int(p) for p in argument.split(",")]
            return (".".join(map(str, parts[:4])), parts[4] * 256 + parts[5])
        fields = argument.split(argument[0])
        return (fields[2], int(fields[3]))

    def log_line(self, text):
        self.log.write(text + "\n")
        self.log.flush()

    def start_implicit_tls(self):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.script["tlsCert"])
        context.options &= ~ssl.OP_IGNORE_UNEXPECTED_EOF
        self.tls_context = context
        self.conn = context.wrap_socket(self.conn, server_side=True)

    def run(self):
        if self.script.get("implicitTls"):
            self.start_implicit_tls()
        greeting = self.take_rule("GREETING")
        if not self.deliver(greeting, "220 Fault server ready."):
            return
        buffer = b""
        while True:
            while b"\n" not in buffer:
                block = self.conn.recv(65536)
                if not block:
                    return
                buffer += block
            raw, _, buffer = buffer.partition(b"\n")
            line = raw.rstrip(b"\r").decode(*self.codec)
            self.log_line(line)
            if not self.handle(line):
                return


def serve_limited(server, script, log, limit):
    stored = {}
    lock = threading.Lock()
    open_sessions = [0]

    def one(conn):
        try:
            Session(conn, script, log, stored).run()
        except OSError:
            pass
        finally:
            conn.close()
            with lock:
                open_sessions[0] -= 1

    while True:
        conn, _ = server.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with lock:
            refused = open_sessions[0] >= limit
            if not refused:
                open_sessions[0] += 1
        if refused:
            try:
                conn.sendall(b"421 Too many connections (%d) from this IP\r\n" % limit)
            except OSError:
                pass
            conn.close()
            continue
        threading.Thread(target=one, args=(conn,), daemon=True).start()


def serve(server, script, log):
    if "maxSessions" in script:
        serve_limited(server, script, log, int(script["maxSessions"]))
        return
    stored = {}
    while True:
        conn, _ = server.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            Session(conn, script, log, stored).run()
        except OSError:
            pass
        finally:
            conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args()
    with open(args.script, encoding="utf-8") as f:
        script = json.load(f)
    # Made once, before the port is announced: a large listing would otherwise hold up
    # the reply to every listing command.
    log = open(args.log, "a", encoding="utf-8", errors="surrogateescape")
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    print(server.getsockname()[1], flush=True)
    threading.Thread(target=serve, args=(server, script, log), daemon=True).start()
    try:
        while sys.stdin.buffer.read(4096):
            pass
    except OSError:
        pass
    os._exit(0)


if __name__ == "__main__":
    main()
