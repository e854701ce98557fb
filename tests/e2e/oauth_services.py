#!/usr/bin/python3
"""An OAuth 2.0 identity service and a mail service that takes only its
tokens, on loopback, for the end-to-end tests.

    oauth_services.py OUTDIR CERTS [--smtp-port N] [--smtp accept|reject-token|auth-disabled]
                      [--endpoint ok|refuse-client|slow|deny|expire|single-use|unavailable] [--seconds N]

Prints the SMTP port, then the endpoint's port. The endpoint (HTTPS, with
CERTS/localhost.pem) answers /token (client credentials, refresh token with
rotation, device code, authorization code with PKCE), /devicecode and
/authorize (which redirects as a browser would be, with a code). Its log,
OUTDIR/requests.log, has one line a request, without secrets: the path, the
grant and, for a refresh, which refresh token came. The SMTP server offers
only AUTH XOAUTH2, after STARTTLS, and accepts a token the endpoint issued
for the mailbox dispatch@example.com; "reject-token" refuses every token the
way Google and Microsoft do, "auth-disabled" as Microsoft does a mailbox
whose SMTP AUTH is turned off (no challenge: no new token mends it). Its command log is OUTDIR/commands.log.

The app is "qel-app" with the secret "app-secret"; the user client is
"qel-user" (no secret). A device code is approved on its third poll ("deny":
declined, "expire": expired).

"single-use" is an endpoint as strict as they come: its access tokens last a
second, so every send refreshes; a refresh token is good for one refresh,
and one that comes back spent revokes the whole chain ("reuse" in the log).
Each refresh takes a moment, and one that overlaps another is logged
("overlap"): the client is to send one at a time.
"""
import argparse
import base64
import collections
import hashlib
import http.server
import json
import logging
import os
import ssl
import sys
import threading
import time
import urllib.parse

from aiosmtpd.smtp import SMTP, AuthResult

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mailbox import announce_and_serve, free_port  # noqa: E402
from tls_mailbox import CommandLog, Service, TlsMailbox  # noqa: E402

MAILBOX = "dispatch@example.com"


class Identity:
    """What the endpoint has issued; shared by both services (one process)."""

    def __init__(self, outdir, mode):
        self.mode, self.lock = mode, threading.Lock()
        self.access, self.refresh, self.serial = set(), "rt-0", 0
        self.spent, self.revoked = set(), False
        self.refreshing, self.refreshing_lock = 0, threading.Lock()
        self.polls, self.codes = {}, {}
        self.log = open(os.path.join(outdir, "requests.log"), "w", buffering=1)

    def issue(self, with_refresh):
        self.serial += 1
        answer = {"access_token": "at-%d-%s" % (self.serial, "x" * 1200), "token_type": "Bearer",
                  "expires_in": 1 if self.mode == "single-use" else 3600}
        self.access.add(answer["access_token"])
        if with_refresh:  # rotated on every use, as Microsoft's are
            self.refresh = "rt-%d-%s" % (self.serial, "r" * 1600)
            answer["refresh_token"] = self.refresh
        return 200, answer

    def token(self, form):
        grant = form.get("grant_type", "")
        note = grant.rsplit(":", 1)[-1]
        if grant == "refresh_token":
            note += " " + form.get("refresh_token", "").split("-r")[0]
        self.log.write("token %s\n" % note)
        if self.mode == "slow":
            time.sleep(120)
        if self.mode == "unavailable":
            return 503, {"error": "temporarily_unavailable"}
        if self.mode == "refuse-client":
            return 401, {"error": "invalid_client", "error_description": "AADSTS7000215: Invalid client secret provided."}
        if grant == "client_credentials":
            if form.get("client_id") != "qel-app" or form.get("client_secret") != "app-secret":
                return 401, {"error": "invalid_client"}
            return self.issue(False)
        if grant == "refresh_token":
            given = form.get("refresh_token")
            if self.mode == "single-use" and given in self.spent:
                self.revoked = True
                self.log.write("reuse %s: the chain is revoked\n" % given.split("-r")[0])
            if self.revoked or given != self.refresh:
                return 400, {"error": "invalid_grant", "error_description": "refresh token revoked"}
            self.spent.add(given)
            return self.issue(True)
        if grant.endswith("device_code"):
            polls = self.polls[form.get("device_code")] = self.polls.get(form.get("device_code"), 0) + 1
            if polls < 3:
                return 400, {"error": "authorization_pending"}
            if self.mode in ("deny", "expire"):
                return 400, {"error": "access_denied" if self.mode == "deny" else "expired_token"}
            return self.issue(True)
        if grant == "authorization_code":
            challenge, redirect = self.codes.pop(form.get("code"), (None, None))
            verifier = form.get("code_verifier", "").encode()
            made = base64.urlsafe_b64encode(hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
            if challenge is None or made != challenge or form.get("redirect_uri") != redirect:
                return 400, {"error": "invalid_grant", "error_description": "code, verifier or redirect differ"}
            return self.issue(True)
        return 400, {"error": "unsupported_grant_type"}


class Endpoint(http.server.BaseHTTPRequestHandler):
    identity = None

    def log_message(self, *args):
        pass

    def answer(self, status, document, headers=()):
        body = json.dumps(document).encode()
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        form = {k: v[0] for k, v in urllib.parse.parse_qs(self.rfile.read(length).decode()).items()}
        identity = self.identity
        refreshing = identity.mode == "single-use" and form.get("grant_type") == "refresh_token"
        if refreshing:  # outside the lock, so that two at once are seen
            with identity.refreshing_lock:
                identity.refreshing += 1
                if identity.refreshing > 1:
                    identity.log.write("overlap\n")
            time.sleep(0.2)
        with identity.lock:
            if self.path == "/token":
                status, document = identity.token(form)
            elif self.path == "/devicecode":
                identity.log.write("devicecode %s\n" % form.get("scope"))
                status, document = 200, {"device_code": "dc-%d" % len(identity.polls), "user_code": "QELT-EST1",
                                         "verification_uri": "https://localhost/device", "expires_in": 20 if
                                         identity.mode != "expire" else 4, "interval": 1}
            else:
                status, document = 404, {"error": "not_found"}
        if refreshing:
            with identity.refreshing_lock:
                identity.refreshing -= 1
        if status == 200 and self.path == "/devicecode":
            identity.polls.setdefault(document["device_code"], 0)
        self.answer(status, document)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        if url.path != "/authorize" or query.get("code_challenge_method") != "S256":
            return self.answer(400, {"error": "invalid_request"})
        with self.identity.lock:
            self.identity.log.write("authorize %s\n" % query.get("scope"))
            code = "code-%d" % len(self.identity.codes)
            self.identity.codes[code] = (query["code_challenge"], query["redirect_uri"])
        target = query["redirect_uri"] + "?" + urllib.parse.urlencode({"code": code, "state": query["state"]})
        self.answer(302, {}, [("Location", target)])


class LongLines(SMTP):
    # A bearer token makes a long AUTH line, which the big services take.
    command_size_limit = line_length_limit = 8192
    command_size_limits = collections.defaultdict(lambda: 8192)


class OAuthService(Service):
    def factory(self):
        return LongLines(self.handler, **self.SMTP_kwargs)


class OAuthMailbox(TlsMailbox):
    identity, reject = None, "accept"

    async def auth_XOAUTH2(self, server, args):
        text = base64.b64decode(args[1]).decode() if len(args) > 1 else ""
        fields = dict(part.split("=", 1) for part in text.split("\x01") if "=" in part)
        token = fields.get("auth", "").replace("Bearer ", "", 1)
        if self.reject == "auth-disabled":
            return AuthResult(success=False, handled=False, message="535 5.7.139 Authentication unsuccessful, "
                              "SmtpClientAuthentication is disabled for the Mailbox")
        if self.reject == "accept" and fields.get("user") == MAILBOX and token in self.identity.access:
            return AuthResult(success=True, handled=False, auth_data=MAILBOX)
        await server.challenge_auth(json.dumps({"status": "401", "schemes": "bearer"}))
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("certs")
    parser.add_argument("--smtp-port", type=int, default=0)
    parser.add_argument("--smtp", choices=["accept", "reject-token", "auth-disabled"], default="accept")
    parser.add_argument("--endpoint", choices=["ok", "refuse-client", "slow", "deny", "expire", "single-use", "unavailable"], default="ok")
    parser.add_argument("--seconds", type=float, default=300)
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    identity = Identity(args.outdir, args.endpoint)

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(args.certs, "localhost.pem"), os.path.join(args.certs, "localhost.key"))
    Endpoint.identity = identity
    endpoint = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Endpoint)
    endpoint.daemon_threads = True
    endpoint.socket = context.wrap_socket(endpoint.socket, server_side=True)
    threading.Thread(target=endpoint.serve_forever, daemon=True).start()

    log = logging.getLogger("mail.log")
    log.setLevel(logging.INFO)
    log.addHandler(CommandLog(os.path.join(args.outdir, "commands.log")))
    log.propagate = False
    handler = OAuthMailbox(args.outdir, "accept")
    handler.identity, handler.reject = identity, args.smtp
    port = args.smtp_port or free_port()
    service = OAuthService(False, handler=handler, hostname="127.0.0.1", port=port, tls_context=context,
                      require_starttls=True, auth_required=True, auth_exclude_mechanism=["PLAIN", "LOGIN"],
                      data_size_limit=64 * 1024 * 1024)
    service.start()
    print(port, flush=True)
    announce_and_serve(endpoint.server_address[1], args.seconds, service.stop, endpoint.shutdown)


if __name__ == "__main__":
    main()
