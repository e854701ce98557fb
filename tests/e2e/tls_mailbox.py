#!/usr/bin/python3
"""TLS mail services on loopback for the end-to-end tests and the benchmark.

    tls_mailbox.py certs DIR
        A throwaway CA (ca.der, to be trusted inside a test prefix only) and
        server certificates: localhost (by that CA), otherhost (the CA's, for
        mail.example.net), expired (the CA's, for localhost, lapsed), and
        selfsigned (for localhost, by nobody).
    tls_mailbox.py serve OUTDIR MODE CERTS [--port N] [--seconds N]
        Prints the port, serves like mailbox.py, and writes every command
        line the server reads (AUTH arguments masked) to OUTDIR/commands.log.
    tls_mailbox.py endless-records OUTDIR CERTS [--interval S] [--seconds N]
        Prints the port; implicit TLS for one client, then records without
        data, without end (see serve_endless_records).

The account is "dispatch" with the password "correct horse".
"""
import argparse
import asyncio
import datetime
import ipaddress
import logging
import os
import ssl
import sys

from aiosmtpd.smtp import AuthResult, LoginPassword

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mailbox import ChunkingController, ChunkingSMTP, Mailbox, announce_and_serve, free_port  # noqa: E402

USER, PASSWORD = b"dispatch", b"correct horse"

# mode: (certificate, implicit TLS, STARTTLS offered, mechanisms left out, AUTH required)
MODES = {
    "submission": ("localhost", False, True, [], True),
    "wrong-password": ("localhost", False, True, [], True),
    "implicit-login": ("localhost", True, False, ["PLAIN"], True),
    "open-starttls": ("localhost", False, True, [], False),
    "no-starttls": (None, False, False, [], False),
    "plain-auth": (None, False, False, [], False),
    "no-common-mechanism": ("localhost", False, True, ["PLAIN", "LOGIN"], True),
    "forged-after-starttls": ("localhost", False, True, [], False),
    "wrong-host": ("otherhost", True, False, [], True),
    "self-signed": ("selfsigned", False, True, [], True),
    "expired": ("expired", False, True, [], True),
}


def make_certificates(folder):
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

    os.makedirs(folder, exist_ok=True)
    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)

    def key():
        return rsa.generate_private_key(public_exponent=65537, key_size=2048)

    def name(text):
        return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text)])

    def write(stem, certificate, private_key):
        with open(os.path.join(folder, stem + ".pem"), "wb") as f:
            f.write(certificate.public_bytes(serialization.Encoding.PEM))
        with open(os.path.join(folder, stem + ".key"), "wb") as f:
            f.write(private_key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                              serialization.NoEncryption()))

    ca_key = key()
    ca = (x509.CertificateBuilder().subject_name(name("Qel Test CA")).issuer_name(name("Qel Test CA"))
          .public_key(ca_key.public_key()).serial_number(x509.random_serial_number())
          .not_valid_before(now - day).not_valid_after(now + 30 * day)
          .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
          .add_extension(x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                                       data_encipherment=False, key_agreement=False, key_cert_sign=True,
                                       crl_sign=True, encipher_only=False, decipher_only=False), critical=True)
          .sign(ca_key, hashes.SHA256()))
    write("ca", ca, ca_key)
    with open(os.path.join(folder, "ca.der"), "wb") as f:
        f.write(ca.public_bytes(serialization.Encoding.DER))

    def server(stem, host, start, end, signer=None):
        server_key = key()
        names = [x509.DNSName(host)]
        if host == "localhost":
            names += [x509.IPAddress(ipaddress.ip_address("127.0.0.1")), x509.IPAddress(ipaddress.ip_address("::1"))]
        builder = (x509.CertificateBuilder().subject_name(name(host))
                   .issuer_name(name(host) if signer is None else ca.subject)
                   .public_key(server_key.public_key()).serial_number(x509.random_serial_number())
                   .not_valid_before(start).not_valid_after(end)
                   .add_extension(x509.SubjectAlternativeName(names), critical=False)
                   .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False))
        write(stem, builder.sign(signer or server_key, hashes.SHA256()), server_key)

    server("localhost", "localhost", now - day, now + 30 * day, ca_key)
    server("otherhost", "mail.example.net", now - day, now + 30 * day, ca_key)
    server("expired", "localhost", now - 60 * day, now - 30 * day, ca_key)
    server("selfsigned", "localhost", now - day, now + 30 * day)


class CommandLog(logging.Handler):
    """aiosmtpd reports each command line it reads as '%r >> %r' (AUTH masked)."""

    def __init__(self, path):
        super().__init__(logging.INFO)
        self.file = open(path, "w", buffering=1)

    def emit(self, record):
        if record.msg == "%r >> %r" and isinstance(record.args[1], bytes):
            self.file.write(record.args[1].decode("ascii", "replace") + "\n")


class ForgingSMTP(ChunkingSMTP):
    """Sends a forged reply in the same write as its '220' to STARTTLS."""

    async def push(self, status):
        if status == "220 Ready to start TLS":
            status += "\r\n554 5.0.0 forged reply, not from this server"
        await super().push(status)


class Service(ChunkingController):
    def __init__(self, forging, **kwargs):
        self.forging = forging
        super().__init__(**kwargs)

    def factory(self):
        return ForgingSMTP(self.handler, **self.SMTP_kwargs) if self.forging else super().factory()


class TlsMailbox(Mailbox):
    """Notes the TLS version and cipher of each session in OUTDIR/tls."""

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        ssl_object = server.transport.get_extra_info("ssl_object")
        if ssl_object:
            with open(os.path.join(self.outdir, "tls"), "w") as f:
                f.write("%s %s\n" % (ssl_object.version(), ssl_object.cipher()[0]))
            with open(os.path.join(self.outdir, "resumed"), "a") as f:
                f.write("%s\n" % ssl_object.session_reused)
        return await super().handle_EHLO(server, session, envelope, hostname, responses)


def authenticate(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == USER and auth_data.password == PASSWORD
    # handled=False: aiosmtpd then answers the refusal itself (535).
    return AuthResult(success=ok, handled=False)


class OtherMechanismOnly(TlsMailbox):
    async def auth_XOAUTH2(self, server, args):
        await server.push("535 5.7.8 not accepted here")
        return AuthResult(success=False, handled=True)


def serve(args):
    cert, implicit, starttls, excluded, required = MODES[args.mode]
    os.makedirs(args.outdir, exist_ok=True)
    log = logging.getLogger("mail.log")
    log.setLevel(logging.INFO)
    log.addHandler(CommandLog(os.path.join(args.outdir, "commands.log")))
    log.propagate = False
    context = None
    if cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(os.path.join(args.certs, cert + ".pem"), os.path.join(args.certs, cert + ".key"))
    handler = (OtherMechanismOnly if args.mode == "no-common-mechanism" else TlsMailbox)(args.outdir, "accept")
    port = args.port or free_port()
    kwargs = dict(handler=handler, hostname="127.0.0.1", port=port, authenticator=authenticate,
                  auth_exclude_mechanism=excluded, auth_required=required,
                  # aiosmtpd counts only STARTTLS as TLS; an implicit-TLS connection is one too.
                  auth_require_tls=not implicit and args.mode != "plain-auth", data_size_limit=64 * 1024 * 1024)
    if implicit:
        kwargs["ssl_context"] = context
    elif starttls:
        kwargs["tls_context"] = context
        kwargs["require_starttls"] = required
    service = Service(args.mode == "forged-after-starttls", **kwargs)
    service.start()
    announce_and_serve(port, args.seconds, service.stop)


def tls12_empty_records(master, client_random, server_random):
    """Empty application-data records of TLS 1.2 under ECDHE-RSA-AES128-GCM-SHA256,
    made from the session's keys (OpenSSL writes nothing for a write of no
    bytes): the server's first record after its Finished has the number 1."""
    import hashlib
    import hmac
    import struct
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM

    def prf(secret, label, seed, size):
        out, a = b"", label + seed
        while len(out) < size:
            a = hmac.new(secret, a, hashlib.sha256).digest()
            out += hmac.new(secret, a + label + seed, hashlib.sha256).digest()
        return out[:size]

    block = prf(master, b"key expansion", server_random + client_random, 40)
    cipher, salt = AESGCM(block[16:32]), block[36:40]  # the server's write key and implicit IV
    sequence = 1
    while True:
        number = struct.pack(">Q", sequence)
        tag = cipher.encrypt(salt + number, b"", number + b"\x17\x03\x03\x00\x00")
        yield b"\x17\x03\x03" + struct.pack(">H", len(number + tag)) + number + tag
        sequence += 1


def serve_endless_records(args):
    """One implicit-TLS client, then records that carry no data, one every
    INTERVAL seconds (0: as fast as the client takes them, so that its socket
    is never without one waiting), until the client closes. The
    handshake is OpenSSL's, through its C API: under TLS 1.3 the records are
    KeyUpdate messages (SSL_key_update; Python's ssl cannot send one), under
    TLS 1.2 (all Wine 8 offers) empty application-data records made by hand.
    Writes "VERSION KIND COUNT SECONDS" to OUTDIR/records: the records sent,
    and the time from the end of the handshake until the client closed."""
    import ctypes
    import select
    import socket
    import time

    lib = ctypes.CDLL("libssl.so.3")
    pointer, text, number = ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int
    signatures = {
        "TLS_server_method": (pointer, []),
        "SSL_CTX_new": (pointer, [pointer]),
        "SSL_CTX_ctrl": (ctypes.c_long, [pointer, number, ctypes.c_long, pointer]),
        "SSL_CTX_set_cipher_list": (number, [pointer, text]),
        "SSL_CTX_use_certificate_chain_file": (number, [pointer, text]),
        "SSL_CTX_use_PrivateKey_file": (number, [pointer, text, number]),
        "SSL_new": (pointer, [pointer]),
        "SSL_set_fd": (number, [pointer, number]),
        "SSL_accept": (number, [pointer]),
        "SSL_get_version": (text, [pointer]),
        "SSL_key_update": (number, [pointer, number]),
        "SSL_do_handshake": (number, [pointer]),
        "SSL_get_session": (pointer, [pointer]),
        "SSL_SESSION_get_master_key": (ctypes.c_size_t, [pointer, text, ctypes.c_size_t]),
        "SSL_get_client_random": (ctypes.c_size_t, [pointer, text, ctypes.c_size_t]),
        "SSL_get_server_random": (ctypes.c_size_t, [pointer, text, ctypes.c_size_t]),
    }
    for name, (result, arguments) in signatures.items():
        getattr(lib, name).restype, getattr(lib, name).argtypes = result, arguments
    context = lib.SSL_CTX_new(lib.TLS_server_method())
    lib.SSL_CTX_set_cipher_list(context, b"ECDHE-RSA-AES128-GCM-SHA256")  # the one the TLS 1.2 records are made for
    pem = lambda suffix: os.path.join(args.certs, "localhost" + suffix).encode()
    if (lib.SSL_CTX_use_certificate_chain_file(context, pem(".pem")) != 1
            or lib.SSL_CTX_use_PrivateKey_file(context, pem(".key"), 1) != 1):
        sys.exit("endless-records: the certificate did not load")
    os.makedirs(args.outdir, exist_ok=True)
    listener = socket.create_server(("127.0.0.1", 0))
    print(listener.getsockname()[1], flush=True)
    listener.settimeout(args.seconds)
    connection, _ = listener.accept()
    session = lib.SSL_new(context)
    lib.SSL_set_fd(session, connection.fileno())
    if lib.SSL_accept(session) != 1:
        sys.exit("endless-records: the handshake failed")
    version = lib.SSL_get_version(session).decode()
    batch = 1
    if version == "TLSv1.3":
        kind = "KeyUpdate"
        send = lambda: lib.SSL_key_update(session, 0) == 1 and lib.SSL_do_handshake(session) == 1
    else:
        kind = "empty-application-data"
        secrets = [ctypes.create_string_buffer(48), ctypes.create_string_buffer(32), ctypes.create_string_buffer(32)]
        lib.SSL_SESSION_get_master_key(lib.SSL_get_session(session), secrets[0], 48)
        lib.SSL_get_client_random(session, secrets[1], 32)
        lib.SSL_get_server_random(session, secrets[2], 32)
        records = tls12_empty_records(*(secret.raw for secret in secrets))
        # Without pause, in batches: faster than the client can take them.
        batch = 1 if args.interval else 512
        send = lambda: connection.sendall(b"".join(next(records) for _ in range(batch))) is None
    started, count, closed = time.monotonic(), 0, False
    while not closed and time.monotonic() - started < args.seconds:
        try:
            if not send():
                break
        except OSError:
            break
        count += 1
        due = started + args.interval * count
        while not closed and time.monotonic() < due:
            # What the client sends is not read as TLS; only its close counts.
            readable, _, _ = select.select([connection], [], [], max(0, due - time.monotonic()))
            try:
                closed = bool(readable) and not connection.recv(4096)
            except ConnectionError:
                closed = True
    with open(os.path.join(args.outdir, "records"), "w") as f:
        f.write("%s %s %d %.2f\n" % (version, kind, count * batch,
                                      time.monotonic() - started))
    connection.close()


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    certs = commands.add_parser("certs")
    certs.add_argument("folder")
    server = commands.add_parser("serve")
    server.add_argument("outdir")
    server.add_argument("mode", choices=sorted(MODES))
    server.add_argument("certs")
    server.add_argument("--port", type=int, default=0)
    server.add_argument("--seconds", type=float, default=300)
    endless = commands.add_parser("endless-records")
    endless.add_argument("outdir")
    endless.add_argument("certs")
    endless.add_argument("--interval", type=float, default=0.2)
    endless.add_argument("--seconds", type=float, default=60)
    args = parser.parse_args()
    if args.command == "endless-records":
        serve_endless_records(args)
    elif args.command == "certs":
        make_certificates(args.folder)
    else:
        serve(args)


if __name__ == "__main__":
    main()
