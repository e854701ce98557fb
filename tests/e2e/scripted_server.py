#!/usr/bin/python3
"""A scripted SMTP server on loopback for the timing, size and streaming tests.

    scripted_server.py OUTDIR [--trickle STEP] [--final-delay S] [--size-limit N]
                       [--host ADDRESS] [--seconds N]

Prints the port it listens on, then serves one connection after another.
--trickle sends the reply of STEP (greeting, ehlo, data-ack, final) one byte
a second; --final-delay waits S seconds before the reply to the final dot;
--size-limit offers SIZE N in the EHLO reply. Each session is written to
OUTDIR/NNN.json: the commands, and for a message its size and, per
attachment, its length and SHA-256 (decoded while it arrives, never held
whole). The message itself is not kept.
"""
import argparse
import binascii
import hashlib
import json
import os
import re
import socket
import time


class MimeDigest:
    """Follows a multipart message line by line: the top boundary, each
    part's headers, and the base64 content of attachments."""

    def __init__(self):
        self.boundary = None
        self.in_headers = True      # the message's own headers
        self.part = None            # None outside a part, else a dict
        self.part_headers = False
        self.attachments = []
        self.size = 0

    def line(self, raw):
        self.size += len(raw)
        text = raw.rstrip(b"\r\n")
        if self.in_headers:
            if not text:
                self.in_headers = False
            match = re.search(rb'boundary="([^"]+)"', text)
            if match:
                self.boundary = match.group(1)
            return
        if self.boundary and text.startswith(b"--" + self.boundary):
            self.end_part()
            if text != b"--" + self.boundary + b"--":
                self.part = {"attachment": False, "name": None}
                self.part_headers = True
            return
        if self.part is None:
            return
        if self.part_headers:
            if not text:
                self.part_headers = False
                if self.part["attachment"]:
                    self.part["hash"], self.part["length"] = hashlib.sha256(), 0
            elif text.lower().startswith(b"content-disposition: attachment"):
                self.part["attachment"] = True
                match = re.search(rb'filename="([^"]*)"', text)
                self.part["name"] = match.group(1).decode() if match else None
            return
        if self.part["attachment"]:
            decoded = binascii.a2b_base64(text)
            self.part["hash"].update(decoded)
            self.part["length"] += len(decoded)

    def end_part(self):
        if self.part and self.part["attachment"] and "hash" in self.part:
            self.attachments.append({"name": self.part["name"], "length": self.part["length"],
                                     "sha256": self.part["hash"].hexdigest()})
        self.part = None


def send(conn, reply, trickled):
    if not trickled:
        conn.sendall(reply)
        return
    for byte in reply:
        conn.sendall(bytes([byte]))
        time.sleep(1)


def serve(conn, args, record):
    f = conn.makefile("rb")
    send(conn, b"220 scripted ready\r\n", args.trickle == "greeting")
    while True:
        line = f.readline()
        if not line:
            return
        record["commands"].append(line.decode("latin-1").rstrip("\r\n"))
        verb = line[:4].upper()
        if verb in (b"EHLO", b"HELO"):
            extensions = b"250-SIZE %d\r\n" % args.size_limit if args.size_limit else b""
            send(conn, b"250-scripted\r\n" + extensions + b"250 8BITMIME\r\n", args.trickle == "ehlo")
        elif verb == b"DATA":
            send(conn, b"354 go ahead\r\n", args.trickle == "data-ack")
            digest = MimeDigest()
            while True:
                data = f.readline()
                if not data:
                    return
                if data == b".\r\n":
                    break
                digest.line(data[1:] if data.startswith(b".") else data)
            digest.end_part()
            record["message"] = {"size": digest.size, "attachments": digest.attachments}
            time.sleep(args.final_delay)
            send(conn, b"250 accepted\r\n", args.trickle == "final")
        elif verb == b"QUIT":
            conn.sendall(b"221 bye\r\n")
            return
        else:
            conn.sendall(b"250 OK\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("--trickle", choices=["greeting", "ehlo", "data-ack", "final"])
    parser.add_argument("--final-delay", type=float, default=0)
    parser.add_argument("--size-limit", type=int, default=0)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--seconds", type=float, default=600)
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    listener = socket.socket(socket.AF_INET6 if ":" in args.host else socket.AF_INET)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    stop = time.monotonic() + args.seconds
    sessions = 0
    while time.monotonic() < stop:
        listener.settimeout(max(0.1, stop - time.monotonic()))
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        sessions += 1
        record = {"commands": []}
        try:
            conn.settimeout(120)
            serve(conn, args, record)
        except OSError as error:
            record["error"] = str(error)
        finally:
            conn.close()
            path = os.path.join(args.outdir, "%03d.json" % sessions)
            with open(path + ".part", "w") as out:
                json.dump(record, out)
            os.rename(path + ".part", path)


if __name__ == "__main__":
    main()
