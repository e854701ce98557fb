#!/usr/bin/python3
"""A scripted SMTP server on loopback for the timing, size and streaming tests.

    scripted_server.py OUTDIR [--trickle STEP] [--final-delay S] [--size-limit N]
                       [--host ADDRESS] [--seconds N]
    scripted_server.py OUTDIR --soak SEED [--chunking] [--late S] [--host ADDRESS] [--seconds N]

Prints the port it listens on, then serves one connection after another.
--trickle sends the reply of STEP (greeting, ehlo, data-ack, final) one byte
a second; --final-delay waits S seconds before the reply to the final dot;
--size-limit offers SIZE N in the EHLO reply. Each session is written to
OUTDIR/NNN.json: the commands, and for a message its size and, per
attachment, its length and SHA-256 (decoded while it arrives, never held
whole). The message itself is not kept.

--soak serves many connections at once, offers PIPELINING (and CHUNKING)
and holds its replies as Postfix does: written only when no more input is
waiting, so with BDAT the replies to MAIL and RCPT follow the message. Each
transaction meets a fault drawn from SEED and its sender's token (MAIL
FROM:<TOKEN@...>, TOKEN of the form aNsM): see SoakSession. Each accepted
message is kept as OUTDIR/kept/NNN.eml; each transaction is a line of
OUTDIR/transactions.jsonl (token, attempt, fault, kept), in the order met.
"""
import argparse
import binascii
import hashlib
import json
import os
import random
import re
import select
import socket
import threading
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


# What a soak transaction meets; "normal" weighs most, each fault alike.
SOAK_FAULTS = ["normal", "normal", "normal", "late", "421-at-mail", "rcpt-4xx", "cut-after-message", "idle-close",
               "extra-reply"]


class SoakLog:
    """The kept messages and the transactions, shared by all connections."""

    def __init__(self, outdir, seed):
        self.outdir, self.seed = outdir, seed
        self.lock = threading.Lock()
        self.kept = 0
        self.attempts = {}
        os.makedirs(os.path.join(outdir, "kept"), exist_ok=True)

    def fault(self, token):
        """A token's first transaction takes its place in its apartment's
        seeded shuffle of SOAK_FAULTS, so every apartment meets every fault
        within len(SOAK_FAULTS) sends; a send tried again draws at random.
        Both follow from the seed alone, whatever the threads' order; a
        MAIL dropped by an idle close is no attempt. Whether a send meets an
        idle close at all follows the threads' timing."""
        with self.lock:
            attempt = self.attempts[token] = self.attempts.get(token, -1) + 1
        match = re.fullmatch(r"a(\d+)s(\d+)", token)
        if attempt == 0 and match:
            apartment, send = int(match.group(1)), int(match.group(2))
            rounds = send // len(SOAK_FAULTS)
            order = list(SOAK_FAULTS)
            random.Random("%s/%d/%d" % (self.seed, apartment, rounds)).shuffle(order)
            return attempt, order[send % len(SOAK_FAULTS)]
        return attempt, random.Random("%s/%s/%d" % (self.seed, token, attempt)).choice(SOAK_FAULTS)

    def keep(self, message):
        with self.lock:
            self.kept += 1
            path = os.path.join(self.outdir, "kept", "%03d.eml" % self.kept)
        with open(path + ".part", "wb") as f:
            f.write(message)
        os.rename(path + ".part", path)

    def transaction(self, token, attempt, fault, kept):
        line = json.dumps({"token": token, "attempt": attempt, "fault": fault, "kept": kept})
        with self.lock, open(os.path.join(self.outdir, "transactions.jsonl"), "a") as f:
            f.write(line + "\n")


class SoakSession:
    """One connection. Faults, per transaction:
    late               the replies after the message come `late` seconds late
                       (past the client's Timeout, within its FinalReplyTimeout);
    421-at-mail        421 to MAIL, then the connection closes: nothing kept;
    rcpt-4xx           450 or 451 to RCPT: nothing kept;
    cut-after-message  the message is read whole and kept, then the
                       connection closes without a reply;
    idle-close         delivered, then shortly after 421 and a close, as a
                       server does with a session idle too long: whatever the
                       client sent meanwhile is dropped (logged "closed-idle");
    extra-reply        delivered, with a second reply behind the final one;
                       the next message on the connection is refused at its
                       end, so a client that kept it and read a reply out of
                       step reports that one delivered ("refused-after-extra").
    """

    def __init__(self, conn, log, chunking, late):
        self.conn, self.log, self.chunking, self.late = conn, log, chunking, late
        self.input, self.held = b"", []
        self.refuse_next = False

    def waiting(self):
        return bool(self.input) or bool(select.select([self.conn], [], [], 0)[0])

    def fill(self):
        data = self.conn.recv(65536)
        if not data:
            raise EOFError
        self.input += data

    def line(self):
        while b"\n" not in self.input:
            self.fill()
        line, self.input = self.input.split(b"\n", 1)
        return line.rstrip(b"\r")

    def exactly(self, size):
        while len(self.input) < size:
            self.fill()
        data, self.input = self.input[:size], self.input[size:]
        return data

    def reply(self, text):
        self.held.append(text.encode() + b"\r\n")
        if not self.waiting():
            self.flush()

    def flush(self):
        replies, self.held = b"".join(self.held), []
        if replies:
            self.conn.sendall(replies)

    def close(self):
        """Says what is held, then closes once the client has (closing with
        input unread would reset the connection and lose the last reply).
        Gives what came meanwhile, unread."""
        try:
            self.flush()
            self.conn.shutdown(socket.SHUT_WR)
            stop = time.monotonic() + 2
            while time.monotonic() < stop and select.select([self.conn], [], [], 0.1)[0]:
                self.fill()
        except (EOFError, OSError):
            pass
        return self.input

    def serve(self):
        self.reply("220 soak ready")
        token, attempt, fault, recipients, message = None, 0, None, 0, b""
        while True:
            line = self.line()
            verb = line[:4].upper()
            if verb == b"EHLO":
                self.reply("250-soak\r\n250-PIPELINING\r\n" + ("250-CHUNKING\r\n" if self.chunking else "") + "250 8BITMIME")
            elif verb == b"MAIL":
                match = re.search(rb"<([^@>]*)@", line)
                token = match.group(1).decode("latin-1") if match else "?"
                attempt, fault = self.log.fault(token)
                recipients, message = 0, b""
                if fault == "421-at-mail":
                    self.log.transaction(token, attempt, fault, False)
                    self.held.append(b"421 4.3.2 shutting down\r\n")
                    self.close()
                    return
                self.reply("250 2.1.0 ok")
            elif verb == b"RCPT":
                if fault == "rcpt-4xx":
                    self.reply(random.Random("%s/%s/%d" % (self.log.seed, token, attempt)).choice(["450 4.2.1 mailbox busy", "451 4.3.0 try later"]))
                else:
                    recipients += 1
                    self.reply("250 2.1.5 ok")
            elif verb == b"DATA" and not self.chunking:
                if not recipients:
                    self.reply("554 5.5.1 no valid recipients")
                    self.log.transaction(token, attempt, fault, False)
                    continue
                self.reply("354 go ahead")
                message = b""
                while (data := self.line() + b"\r\n") != b".\r\n":
                    message += data[1:] if data.startswith(b".") else data
                if not self.end_of_message(token, attempt, fault, message):
                    return
            elif verb == b"BDAT" and self.chunking:
                words = line.split()
                message += self.exactly(int(words[1]))
                last = [word.upper() for word in words[2:]] == [b"LAST"]
                if not recipients:
                    self.reply("503 5.5.1 no valid recipients")
                    if last:
                        self.log.transaction(token, attempt, fault, False)
                    continue
                if not last:
                    self.reply("250 2.0.0 %d octets" % int(words[1]))
                    continue
                if not self.end_of_message(token, attempt, fault, message):
                    return
            elif verb == b"RSET":
                self.reply("250 2.0.0 ok")
            elif verb == b"QUIT":
                self.reply("221 bye")
                self.close()
                return
            else:
                self.reply("502 5.5.2 not here")

    def end_of_message(self, token, attempt, fault, message):
        """Accepts a message read whole; False where the connection ends."""
        if self.refuse_next:
            self.refuse_next = False
            self.log.transaction(token, attempt, "refused-after-extra", False)
            self.reply("554 5.7.1 refused")
            return True
        if fault == "late":
            time.sleep(self.late)
        self.log.keep(message)
        self.log.transaction(token, attempt, fault, True)
        if fault == "cut-after-message":
            self.held = []
            self.conn.shutdown(socket.SHUT_RDWR)
            return False
        try:
            # One write: the second reply is there as soon as the first is.
            self.held.append(b"250 2.0.0 kept\r\n" + (b"250 2.0.0 said twice\r\n" if fault == "extra-reply" else b""))
            self.flush()
        except OSError:
            return False  # the client gave up waiting: the mail is kept all the same
        self.refuse_next = fault == "extra-reply"
        if fault != "idle-close":
            return True
        select.select([self.conn], [], [], random.Random("%s/%s" % (self.log.seed, token)).uniform(0.05, 0.5))
        # A client that sent meanwhile reads the 421 as the reply to its MAIL.
        self.held.append(b"421 4.4.2 idle too long\r\n")
        for dropped in re.findall(rb"MAIL FROM:<([^@>]*)@", self.close(), re.IGNORECASE):
            self.log.transaction(dropped.decode("latin-1"), None, "closed-idle", False)
        return False


def serve_soak(listener, args):
    log = SoakLog(args.outdir, args.soak)
    stop = time.monotonic() + args.seconds
    threads = []
    while time.monotonic() < stop:
        listener.settimeout(max(0.1, stop - time.monotonic()))
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        conn.settimeout(120)
        session = SoakSession(conn, log, args.chunking, args.late)

        def run(conn=conn, session=session):
            try:
                session.serve()
            except (EOFError, OSError):
                pass
            finally:
                conn.close()

        threads.append(threading.Thread(target=run, daemon=True))
        threads[-1].start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("--trickle", choices=["greeting", "ehlo", "data-ack", "final"])
    parser.add_argument("--final-delay", type=float, default=0)
    parser.add_argument("--size-limit", type=int, default=0)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--soak", metavar="SEED")
    parser.add_argument("--chunking", action="store_true")
    parser.add_argument("--late", type=float, default=3)
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    listener = socket.socket(socket.AF_INET6 if ":" in args.host else socket.AF_INET)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, 0))
    listener.listen(32)
    print(listener.getsockname()[1], flush=True)
    if args.soak is not None:
        return serve_soak(listener, args)
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
