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
    tls_mailbox.py endless-records OUTDIR CERTS [--seconds N]
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

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mailbox import Mailbox, announce_and_serve, free_port  # noqa: E402

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


class ForgingSMTP(SMTP):
    """Sends a forged reply in the same write as its '220' to STARTTLS."""

    async def push(self, status):
        if status == "220 Ready to start TLS":
            status += "\r\n554 5.0.0 forged reply, not from this server"
        await super().push(status)


class Service(Controller):
    def __init__(self, forging, **kwargs):
        self.forging = forging
        super().__init__(**kwargs)

    def factory(self):
        return (ForgingSMTP if self.forging else SMTP)(self.handler, **self.SMTP_kwargs)


class TlsMailbox(Mailbox):
    """Notes the TLS version and cipher of each session in OUTDIR/tls."""

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        ssl_object = server.transport.get_extra_info("ssl_object")
        if ssl_object:
            with open(os.path.join(self.outdir, "tls"), "w") as f:
                f.write("%s %s\n" % (ssl_object.version(), ssl_object.cipher()[0]))
        return responses


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


def serve_endless_records(args):
    """One implicit-TLS client, then records that carry no data, one every
    0.2 s (slower than GnuTLS's limit on key updates, so the client's wait,
    not its TLS library, is what ends it), until the client closes. Through
    OpenSSL's C API, as Python's ssl can send neither: TLS 1.3 KeyUpdate
    messages, or under TLS 1.2 empty application-data records. Writes
    "VERSION KIND COUNT SECONDS" to OUTDIR/records: the records sent, and the
    time from the end of the handshake until the client closed."""
    import ctypes
    import select
    import socket
    import time

    lib = ctypes.CDLL("libssl.so.3")
    lib.TLS_server_method.restype = ctypes.c_void_p
    lib.SSL_CTX_new.restype = ctypes.c_void_p
    lib.SSL_CTX_new.argtypes = [ctypes.c_void_p]
    lib.SSL_new.restype = ctypes.c_void_p
    lib.SSL_new.argtypes = [ctypes.c_void_p]
    lib.SSL_get_version.restype = ctypes.c_char_p
    for name in ("SSL_CTX_use_certificate_chain_file", "SSL_CTX_use_PrivateKey_file", "SSL_set_fd", "SSL_accept",
                 "SSL_key_update", "SSL_do_handshake", "SSL_write_ex", "SSL_get_version"):
        getattr(lib, name).argtypes = {
            "SSL_CTX_use_certificate_chain_file": [ctypes.c_void_p, ctypes.c_char_p],
            "SSL_CTX_use_PrivateKey_file": [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int],
            "SSL_set_fd": [ctypes.c_void_p, ctypes.c_int],
            "SSL_accept": [ctypes.c_void_p],
            "SSL_key_update": [ctypes.c_void_p, ctypes.c_int],
            "SSL_do_handshake": [ctypes.c_void_p],
            "SSL_write_ex": [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t)],
            "SSL_get_version": [ctypes.c_void_p],
        }[name]
    context = lib.SSL_CTX_new(lib.TLS_server_method())
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
    kind = "KeyUpdate" if version == "TLSv1.3" else "empty-application-data"
    started, count, written, closed = time.monotonic(), 0, ctypes.c_size_t(), False
    while not closed and time.monotonic() - started < args.seconds:
        if kind == "KeyUpdate":
            sent = lib.SSL_key_update(session, 0) == 1 and lib.SSL_do_handshake(session) == 1
        else:
            sent = lib.SSL_write_ex(session, b"", 0, ctypes.byref(written)) == 1
        if not sent:
            break
        count += 1
        due = started + 0.2 * count
        while not closed and time.monotonic() < due:
            # What the client sends is not read as TLS; only its close counts.
            readable, _, _ = select.select([connection], [], [], max(0, due - time.monotonic()))
            try:
                closed = bool(readable) and not connection.recv(4096)
            except ConnectionError:
                closed = True
    with open(os.path.join(args.outdir, "records"), "w") as f:
        f.write("%s %s %d %.2f\n" % (version, kind, count, time.monotonic() - started))
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
