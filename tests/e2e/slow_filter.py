#!/usr/bin/python3
"""A slow before-queue content filter for Postfix's smtpd_proxy_filter.

    slow_filter.py LISTEN-PORT NEXT-PORT HOLD-SECONDS LOG [--seconds N]

Relays each SMTP session on 127.0.0.1:LISTEN-PORT byte for byte to
127.0.0.1:NEXT-PORT, but holds the "." that ends the message data for
HOLD-SECONDS first (its closing line feed), as a filter that scans the
message would. Appends
"held S" to LOG for every dot held. Serves for N seconds (default 600).
"""
import argparse
import socket
import threading
import time

END = b"\r\n.\r\n"


def pump(source, sink, hold=None, log=None):
    """Copies until SOURCE closes; with HOLD, each end of data waits that long."""
    tail = b""
    try:
        while True:
            chunk = source.recv(65536)
            if not chunk:
                break
            if hold is None:
                sink.sendall(chunk)
                continue
            seen = tail + chunk
            at = seen.find(END)
            if at < 0:
                sink.sendall(chunk)
                tail = seen[-(len(END) - 1):]
                continue
            # The line feed that completes the dot line stays back; without it
            # the next server has no message yet.
            last = at + len(END) - 1 - len(tail)
            sink.sendall(chunk[:last])
            time.sleep(hold)
            with open(log, "a") as f:
                f.write("held %.1f\n" % hold)
            sink.sendall(chunk[last:])
            tail = b""
    except OSError:
        pass
    finally:
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def session(client, next_port, hold, log):
    with client, socket.create_connection(("127.0.0.1", next_port), timeout=30) as server:
        server.settimeout(None)
        back = threading.Thread(target=pump, args=(server, client), daemon=True)
        back.start()
        pump(client, server, hold, log)
        back.join(30)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("next_port", type=int)
    parser.add_argument("hold", type=float)
    parser.add_argument("log")
    parser.add_argument("--seconds", type=float, default=600)
    args = parser.parse_args()
    listener = socket.create_server(("127.0.0.1", args.port))
    deadline = time.monotonic() + args.seconds
    while (left := deadline - time.monotonic()) > 0:
        listener.settimeout(left)
        try:
            client, _ = listener.accept()
        except socket.timeout:
            break
        threading.Thread(target=session, args=(client, args.next_port, args.hold, args.log), daemon=True).start()


if __name__ == "__main__":
    main()
