#!/usr/bin/env python3
"""A scriptable SSH file-transfer server on 127.0.0.1 that misbehaves on demand.

The SSH layer is Debian's python3-paramiko; the file-transfer protocol (version 3) is spoken
here byte by byte, so a script can break it anywhere. It serves the folder --root, logs on
by password or keyboard-interactive, prints its port on stdout once listening and exits
when stdin closes. --hostkey names an OpenSSH private key file for the server's identity.

Script keys (JSON file named by --script):
  password: the password log-on accepts (default "secret"); any other is refused
  kbd: [[prompt, answer], ...]: log-on by keyboard-interactive with these questions in one
    round, in place of the password
  names: [name, ...] extra entries every listing sends first; "\\u0000" is a NUL byte
  nameCount: N: the first listing reply claims N names but holds only the real ones
  badLength: true: the first listing reply gets a length field of 0x7fffffff
  dieAfter: N: a READ that would take the file past byte N sends nothing and the channel
    closes (the connection of a server that died mid-transfer)
  stallAfter: N: READs past byte N are never answered (a server gone quiet)
  overlong: true: READ answers with more bytes than were asked for
  lieEofAt: N: READ answers end-of-file at offset N, but later offsets still get data
  inFlightLog: path: before answering the first READ at or past byte 256 KiB (once the
    client's reads have had time to ramp up) the server waits 0.3 s, then writes to this file
    how many READs it holds by then (the client's requests in flight)
  closeFails: name: CLOSE of a file of that name answers a failure (a server that found at the
    end that the file it sent is not whole)
"""
import argparse
import json
import os
import socket
import stat
import struct
import sys
import threading
import time

import paramiko

INIT, VERSION, OPEN, CLOSE, READ = 1, 2, 3, 4, 5
LSTAT, FSTAT, OPENDIR, READDIR, REALPATH, STAT = 7, 8, 11, 12, 16, 17
STATUS, HANDLE, DATA, NAME, ATTRS = 101, 102, 103, 104, 105


def u32(value):
    return struct.pack(">I", value)


def sshstr(data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    return u32(len(data)) + data


def attrs(info):
    return (u32(0x0F) + struct.pack(">Q", info.st_size) + u32(info.st_uid) + u32(info.st_gid)
            + u32(info.st_mode) + u32(int(info.st_atime)) + u32(int(info.st_mtime)))


class Server(paramiko.ServerInterface):
    def __init__(self, script):
        self.script = script

    def get_allowed_auths(self, username):
        return "keyboard-interactive" if "kbd" in self.script else "password"

    def check_auth_password(self, username, password):
        if "kbd" not in self.script and password == self.script.get("password", "secret"):
            return paramiko.AUTH_SUCCESSFUL
        return paramiko.AUTH_FAILED

    def check_auth_interactive(self, username, submethods):
        if "kbd" not in self.script:
            return paramiko.AUTH_FAILED
        query = paramiko.InteractiveQuery("", "")
        for prompt, _ in self.script["kbd"]:
            query.add_prompt(prompt, False)
        return query

    def check_auth_interactive_response(self, responses):
        expected = [answer for _, answer in self.script["kbd"]]
        return paramiko.AUTH_SUCCESSFUL if list(responses) == expected else paramiko.AUTH_FAILED

    def check_channel_request(self, kind, chanid):
        return paramiko.OPEN_SUCCEEDED if kind == "session" else paramiko.OPEN_FAILED_ADMINISTRATIVELY_PROHIBITED


class FileService(paramiko.SubsystemHandler):
    def __init__(self, channel, name, server, script, root):
        super().__init__(channel, name, server)
        self.script = script
        self.root = root
        self.handles = {}
        self.next_handle = 1
        self.listings = 0
        self.waiting = b""
        self.counted = False

    def read_exact(self, channel, count):
        data, self.waiting = self.waiting[:count], self.waiting[count:]
        while len(data) < count:
            chunk = channel.recv(count - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def count_reads(self, channel):
        self.counted = True
        time.sleep(0.3)
        while channel.recv_ready():
            self.waiting += channel.recv(65536)
        reads, pos = 1, 0
        while pos + 5 <= len(self.waiting):
            length = struct.unpack(">I", self.waiting[pos:pos + 4])[0]
            reads += self.waiting[pos + 4] == READ and pos + 4 + length <= len(self.waiting)
            pos += 4 + length
        with open(self.script["inFlightLog"], "w", encoding="utf-8") as log:
            log.write(str(reads))

    def send(self, channel, kind, body, length=None):
        payload = bytes([kind]) + body
        channel.sendall(u32(len(payload) if length is None else length) + payload)

    def status(self, channel, rid, code, text=""):
        self.send(channel, STATUS, u32(rid) + u32(code) + sshstr(text) + sshstr(""))

    def local(self, path):
        path = os.path.normpath("/" + path.decode("utf-8", "surrogateescape"))
        return os.path.join(self.root, path.lstrip("/")), path

    def start_subsystem(self, name, transport, channel):
        try:
            while True:
                length = struct.unpack(">I", self.read_exact(channel, 4))[0]
                packet = self.read_exact(channel, length)
                if not self.handle(channel, packet[0], packet[1:]):
                    break
        except (EOFError, OSError):
            pass
        finally:
            channel.close()

    def handle(self, channel, kind, body):
        if kind == INIT:
            self.send(channel, VERSION, u32(3))
            return True
        rid = struct.unpack(">I", body[:4])[0]
        length = struct.unpack(">I", body[4:8])[0] if len(body) >= 8 else 0
        arg = body[8:8 + length]
        rest = body[8 + length:]
        if kind == REALPATH:
            _, path = self.local(arg)
            self.send(channel, NAME, u32(rid) + u32(1) + sshstr(path) + sshstr(path) + u32(0))
        elif kind in (STAT, LSTAT):
            try:
                info = os.lstat(self.local(arg)[0]) if kind == LSTAT else os.stat(self.local(arg)[0])
                self.send(channel, ATTRS, u32(rid) + attrs(info))
            except OSError:
                self.status(channel, rid, 2, "No such file")
        elif kind == OPENDIR:
            self.open_handle(channel, rid, ("dir", self.local(arg)[0], None))
        elif kind == OPEN:
            try:
                handle = ("file", self.local(arg)[0], open(self.local(arg)[0], "rb"))
            except OSError:
                self.status(channel, rid, 2, "No such file")
                return True
            self.open_handle(channel, rid, handle)
        elif kind == READDIR:
            return self.readdir(channel, rid, arg)
        elif kind == READ:
            return self.read(channel, rid, arg, rest)
        elif kind == CLOSE:
            entry = self.handles.pop(arg, None)
            if entry and entry[2]:
                entry[2].close()
            if entry and os.path.basename(entry[1]) == self.script.get("closeFails"):
                self.status(channel, rid, 4, "Close failed")
                return True
            self.status(channel, rid, 0 if entry else 4, "" if entry else "Bad handle")
        else:
            self.status(channel, rid, 8, "Unsupported")
        return True

    def open_handle(self, channel, rid, entry):
        handle = str(self.next_handle).encode()
        self.next_handle += 1
        self.handles[handle] = [entry[0], entry[1], entry[2], False]
        self.send(channel, HANDLE, u32(rid) + sshstr(handle))

    def readdir(self, channel, rid, handle):
        entry = self.handles.get(handle)
        if not entry or entry[3]:
            self.status(channel, rid, 1, "End of folder")
            return True
        entry[3] = True
        self.listings += 1
        body = b""
        count = 0
        for name in self.script.get("names", []):
            raw = name.encode("utf-8")
            body += sshstr(raw) + sshstr(raw) + u32(0)
            count += 1
        for name in sorted(os.listdir(entry[1])):
            info = os.lstat(os.path.join(entry[1], name))
            raw = name.encode("utf-8", "surrogateescape")
            body += sshstr(raw) + sshstr(raw) + attrs(info)
            count += 1
        first = self.listings == 1
        if first and "nameCount" in self.script:
            count = self.script["nameCount"]
        length = 0x7FFFFFFF if first and self.script.get("badLength") else None
        self.send(channel, NAME, u32(rid) + u32(count) + body, length)
        return True

    def read(self, channel, rid, handle, rest):
        offset, size = struct.unpack(">QI", rest[:12])
        entry = self.handles.get(handle)
        if not entry or not entry[2]:
            self.status(channel, rid, 4, "Bad handle")
            return True
        if "inFlightLog" in self.script and not self.counted and offset >= 256 * 1024:
            self.count_reads(channel)
        if "dieAfter" in self.script and offset + size > self.script["dieAfter"]:
            return False
        if "stallAfter" in self.script and offset + size > self.script["stallAfter"]:
            return True
        if "lieEofAt" in self.script and offset == self.script["lieEofAt"]:
            self.status(channel, rid, 1, "End of file")
            return True
        entry[2].seek(offset)
        data = entry[2].read(size)
        if not data:
            self.status(channel, rid, 1, "End of file")
            return True
        if self.script.get("overlong"):
            data += b"x" * 16
        self.send(channel, DATA, u32(rid) + sshstr(data))
        return True


def serve(client, host_key, script, root):
    transport = paramiko.Transport(client)
    transport.add_server_key(host_key)
    transport.set_subsystem_handler("sftp", FileService, script, root)
    try:
        transport.start_server(server=Server(script))
    except (paramiko.SSHException, EOFError, OSError):
        return
    # The transport serves the subsystem in threads of its own until the client leaves.
    while transport.is_active():
        transport.join(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--hostkey", required=True)
    parser.add_argument("--script")
    args = parser.parse_args()
    script = {}
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            script = json.load(f)
    host_key = paramiko.Ed25519Key.from_private_key_file(args.hostkey)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)

    def accept():
        while True:
            client, _ = listener.accept()
            threading.Thread(target=serve, args=(client, host_key, script, args.root),
                             daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
