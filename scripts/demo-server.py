#!/usr/bin/env python3
"""The demo site: an FTP server on 127.0.0.1 for scripts/demo.sh.

Serves one folder to the anonymous user (blank password, full rights so uploads work) on a
free port, points the demo data folder's site profile "Local demo" and settings at it, then
prints the port on stdout. It stops when its standard input closes, which happens when the
script that started it ends, however it ends.
"""
import argparse
import logging
import os
import sys
import threading
import warnings

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

SITE = "Local demo"
SETTINGS_KEY = r"HKEY_LOCAL_MACHINE\Software\Tarnwick\ZUL-FTP"


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True, help="folder the server shows")
    parser.add_argument("--home", required=True, help="the program's data folder")
    parser.add_argument("--local", required=True, help="the local folder shown at start")
    return parser.parse_args()


def write_file(path, text):
    # A new file beside the old one renamed over it: the program may read it at any time.
    temporary = path + ".new"
    with open(os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w",
              encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(temporary, path)


def read_lines(path):
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            return f.read().splitlines()
    except FileNotFoundError:
        return []


def without_section(lines, header):
    """The lines minus the section that starts at `header` (matched in any letter case)."""
    kept, skipping = [], False
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("["):
            skipping = stripped.lower() == header.lower()
        if not skipping:
            kept.append(line)
    while kept and not kept[-1].strip():
        kept.pop()
    return kept


def write_profile(home, port):
    """The site's section in zulftp.ini, with this run's port; other sites stay as they are."""
    path = os.path.join(home, "zulftp.ini")
    lines = without_section(read_lines(path), "[%s]" % SITE)
    if lines:
        lines.append("")
    # The demo server has no certificate: the site says plain FTP, so connecting asks nothing.
    lines += ["[%s]" % SITE, "Host=127.0.0.1", "Port=%d" % port, "UserID=anonymous",
              "Password=", "Directory=/", "Encryption=none"]
    write_file(path, "\n".join(lines) + "\n")


def reg_text(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_settings(home, local):
    """LastSite, AutoConnect and DefaultLocalPath in zulftp.reg; every other remembered value
    (window placement, column widths, sort orders) is kept."""
    path = os.path.join(home, "zulftp.reg")
    ours = {"lastsite": reg_text(SITE), "autoconnect": "dword:00000001",
            "defaultlocalpath": reg_text(local.rstrip("/") + "/")}
    names = {"lastsite": "LastSite", "autoconnect": "AutoConnect",
             "defaultlocalpath": "DefaultLocalPath"}
    lines = read_lines(path)
    if not lines or lines[0].strip() != "REGEDIT4":
        lines = ["REGEDIT4", ""]
    header = "[%s]" % SETTINGS_KEY
    out, in_key, found, continuing = [], False, False, False
    for line in lines:
        stripped = line.strip()
        if continuing:  # the wrapped rest of a value being replaced
            continuing = stripped.endswith("\\")
            continue
        if stripped.startswith("["):
            in_key = stripped.lower() == header.lower()
            out.append(line)
            if in_key:
                found = True
                out += ['"%s"=%s' % (names[k], v) for k, v in ours.items()]
            continue
        name = stripped.split("=", 1)[0].strip('"').lower() if stripped.startswith('"') else ""
        if in_key and name in ours:
            continuing = stripped.endswith("\\")
            continue
        out.append(line)
    if not found:
        while out and not out[-1].strip():
            out.pop()
        out += ["", header] + ['"%s"=%s' % (names[k], v) for k, v in ours.items()]
    write_file(path, "\n".join(out) + "\n")


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
    authorizer = DummyAuthorizer()
    with warnings.catch_warnings():
        # pyftpdlib warns about write rights for anonymous; this server is loopback-only.
        warnings.simplefilter("ignore")
        authorizer.add_anonymous(os.path.abspath(args.root), perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "ZUL-FTP demo site ready."
    Handler.permit_foreign_addresses = False
    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 16
    port = server.socket.getsockname()[1]
    os.makedirs(args.home, exist_ok=True)
    write_profile(args.home, port)
    write_settings(args.home, os.path.abspath(args.local))
    print(port, flush=True)
    stop_when_stdin_closes(server)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
