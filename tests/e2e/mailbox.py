#!/usr/bin/python3
"""A gateway mailbox on loopback for the end-to-end tests and the demo.

    mailbox.py OUTDIR [MODE] [--seconds N]

Prints the port it listens on, then serves until killed or N seconds pass
(default 300). Each accepted message is written to OUTDIR/NNN.eml.
MODE: accept (default, a real SMTP server), reject-sender, reject-recipient,
silent (accepts connections and never speaks), drop-in-data (closes the
connection once the message data starts). With QEL_MAILBOX_PIPELINING=1 in
the environment, EHLO offers PIPELINING (aiosmtpd reads commands in order);
with QEL_MAILBOX_CHUNKING=1, CHUNKING (BDAT, which aiosmtpd lacks: added here).
"""
import argparse
import asyncio
import os
import socket
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, SMTP


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def announce_and_serve(port, seconds, *stops):
    """Prints the port for the test to read, serves for SECONDS, then stops."""
    print(port, flush=True)
    try:
        time.sleep(seconds)
    except KeyboardInterrupt:
        pass
    finally:
        for stop in stops:
            stop()


class ChunkingSMTP(SMTP):
    """BDAT (RFC 3030): a chunk is read whole whatever the state, then answered."""

    async def smtp_BDAT(self, arg):
        words = (arg or "").split()
        if not 1 <= len(words) <= 2 or not words[0].isdigit() or words[1:] not in ([], ["LAST"]):
            await self.push("501 Syntax: BDAT size [LAST]")
            return
        chunk = await self._reader.readexactly(int(words[0]))
        if await self.check_helo_needed() or await self.check_auth_needed("BDAT"):
            return
        if not self.envelope.rcpt_tos:
            await self.push("503 5.5.1 No valid recipients")
            return
        self.envelope.original_content = (self.envelope.original_content or b"") + chunk
        if len(words) == 1:
            await self.push("250 %d octets received" % len(chunk))
            return
        self.envelope.content = self.envelope.original_content
        status = await self._call_handler_hook("DATA")
        self._set_post_data_state()
        await self.push("250 OK" if status is MISSING else status)


class ChunkingController(Controller):
    def factory(self):
        return ChunkingSMTP(self.handler, **self.SMTP_kwargs)


class Mailbox:
    def __init__(self, outdir, mode):
        self.outdir, self.mode, self.count = outdir, mode, 0
        self.offered = [name for name in ("PIPELINING", "CHUNKING") if os.environ.get("QEL_MAILBOX_" + name) == "1"]

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        for name in self.offered:
            responses.insert(len(responses) - 1, "250-" + name)
        return responses

    async def handle_MAIL(self, server, session, envelope, address, options):
        if self.mode == "reject-sender":
            return "550 5.7.1 Sender refused"
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        if self.mode == "reject-recipient":
            return "550 5.1.1 No such mailbox"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.outdir, "%03d.eml" % self.count)
        with open(path + ".part", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(os.path.join(self.outdir, "%03d.envelope" % self.count), "w") as f:
            f.write(envelope.mail_from + "\n" + "\n".join(envelope.rcpt_tos) + "\n")
        os.rename(path + ".part", path)
        return "250 Message accepted"


def raw_server(port, mode, stop):
    """The misbehaving servers: silent, or dropping the line during DATA."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(8)
    listener.settimeout(0.5)
    held = []
    while not stop.is_set():
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        if mode == "silent":
            held.append(conn)  # say nothing, keep it open
            continue
        conn.settimeout(5)
        f = conn.makefile("rb")
        conn.sendall(b"220 drop-in-data ready\r\n")
        for line in f:
            verb = line[:4].upper()
            if verb == b"DATA":
                conn.sendall(b"354 go ahead\r\n")
                f.readline()
                break
            conn.sendall(b"250 OK\r\n")
        # The reader holds the socket open; shut it down to really drop the line.
        conn.shutdown(socket.SHUT_RDWR)
        f.close()
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("mode", nargs="?", default="accept",
                        choices=["accept", "reject-sender", "reject-recipient", "silent", "drop-in-data"])
    parser.add_argument("--seconds", type=float, default=300)
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    port = free_port()
    stop = threading.Event()
    if args.mode in ("silent", "drop-in-data"):
        thread = threading.Thread(target=raw_server, args=(port, args.mode, stop), daemon=True)
        thread.start()
        controller = None
    else:
        controller = ChunkingController(Mailbox(args.outdir, args.mode), hostname="127.0.0.1", port=port)
        controller.start()
    announce_and_serve(port, args.seconds, stop.set, *([controller.stop] if controller else []))


if __name__ == "__main__":
    main()
