#!/usr/bin/python3
"""A delay line on loopback: every chunk held DELAY ms in each direction.

    delay_line.py TARGET-PORT DELAY-MS [--seconds N]

Prints the port it listens on; each connection to it is relayed to
127.0.0.1:TARGET-PORT. One thread per direction with a queue of (due time,
bytes), so a chunk's delay does not add to the next one's: a round trip
costs 2 * DELAY, as on a long link, whatever the sizes.
"""
import argparse
import queue
import socket
import threading
import time


def relay(source, sink, delay):
    due = queue.Queue()

    def deliver():
        while True:
            when, data = due.get()
            pause = when - time.monotonic()
            if pause > 0:
                time.sleep(pause)
            if not data:
                try:
                    sink.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
            try:
                sink.sendall(data)
            except OSError:
                return

    threading.Thread(target=deliver, daemon=True).start()
    while True:
        try:
            data = source.recv(65536)
        except OSError:
            data = b""
        due.put((time.monotonic() + delay, data))
        if not data:
            return


def serve(listener, target, delay):
    while True:
        client, _ = listener.accept()
        try:
            server = socket.create_connection(("127.0.0.1", target))
        except OSError:
            client.close()
            continue
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=relay, args=(client, server, delay), daemon=True).start()
        threading.Thread(target=relay, args=(server, client, delay), daemon=True).start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("target", type=int)
    parser.add_argument("delay_ms", type=float)
    parser.add_argument("--seconds", type=float, default=1800)
    args = parser.parse_args()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    threading.Thread(target=serve, args=(listener, args.target, args.delay_ms / 1000), daemon=True).start()
    time.sleep(args.seconds)


if __name__ == "__main__":
    main()
