#!/usr/bin/python3
"""Checks one received gateway mail against what the host sent.

    check_mail.py [--received-by HOST] EML TRANSLATED PICTURE MAILBOX SENDER-NAME SENDER-ADDRESS READER-COMMAND...

TRANSLATED holds the Renderer's TranslatedMessage; READER-COMMAND is run
with a file holding the received body and must print the gateway fields.
With --received-by, the mail was delivered by the Postfix named HOST: it
starts with that server's trace fields (envelope sender, recipient, its
Received), and every field after them is ours.
Prints what arrived; exits non-zero on the first mismatch.
"""
import email
import email.policy
import os
import subprocess
import sys
import tempfile


def fail(what):
    print("FAIL: " + what)
    sys.exit(1)


TRACE = ["Return-Path", "X-Original-To", "Delivered-To", "Received"]


def check_trace(message, host, mailbox, sender_address):
    names = list(message.keys())
    if names[:len(TRACE)] != TRACE or any(name in TRACE for name in names[len(TRACE):]):
        fail("trace fields " + repr(names))
    if message["Return-Path"] != "<%s>" % sender_address or message["Delivered-To"] != mailbox:
        fail("envelope %s to %s" % (message["Return-Path"], message["Delivered-To"]))
    received = " ".join(message["Received"].split())
    if " by %s (Postfix) " % host not in received:
        fail("Received " + received)
    # A server may add the fields a mail lacks; these must have come with it.
    if message["Message-ID"] and message["Message-ID"].endswith("@%s>" % host):
        fail("Message-ID made by the server: " + message["Message-ID"])
    print("Received:", received)


def main():
    host = None
    if sys.argv[1] == "--received-by":
        host = sys.argv[2]
        del sys.argv[1:3]
    eml, translated, picture, mailbox, sender_name, sender_address = sys.argv[1:7]
    reader = sys.argv[7:]
    with open(eml, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    if host:
        check_trace(message, host, mailbox, sender_address)
    print("Subject:", message["Subject"])
    print("From:", message["From"])
    print("To:", message["To"])
    if message["Subject"] != "Qel Message object":
        fail("subject " + repr(message["Subject"]))
    if message["From"].addresses[0].display_name != sender_name or message["From"].addresses[0].addr_spec != sender_address:
        fail("sender " + str(message["From"]))
    recipients = [a.addr_spec for a in message["To"].addresses]
    if recipients != [mailbox]:
        fail("recipients " + repr(recipients))
    for header in ("Date", "Message-ID", "MIME-Version"):
        if not message[header]:
            fail("no " + header + " header")

    body = message.get_body(preferencelist=("plain",)).get_content()
    with open(translated, encoding="utf-8") as f:
        expected = f.read()
    if body.replace("\r\n", "\n") != expected.replace("\r\n", "\n"):
        fail("the body is not TranslatedMessage:\n%r\n%r" % (body[:200], expected[:200]))
    print("Body (%d characters, equal to TranslatedMessage):" % len(body))
    for line in body.splitlines():
        print("  " + line)

    attachments = list(message.iter_attachments())
    with open(picture, "rb") as f:
        picture_bytes = f.read()
    if len(attachments) != 1 or attachments[0].get_content_type() != "image/jpeg":
        fail("attachments " + repr([a.get_content_type() for a in attachments]))
    if attachments[0].get_content() != picture_bytes:
        fail("the attachment differs from the picture")
    print("Attachment: %s, %s, %d bytes, equal to the picture" % (
        attachments[0].get_filename(), attachments[0].get_content_type(), len(picture_bytes)))

    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8", newline="") as f:
        f.write(body.replace("\n", "\r\n").replace("\r\r\n", "\r\n"))
        body_file = f.name
    try:
        # The mail carried its picture (checked above): the reader is told, as a gateway would be.
        fields = subprocess.run(reader + ["--picture", body_file], capture_output=True, text=True, timeout=120)
    finally:
        os.unlink(body_file)
    if fields.returncode != 0:
        fail("the reader refused the body: " + fields.stderr)
    print("Gateway fields:")
    lines = [line.rstrip("\r") for line in fields.stdout.splitlines()]
    for line in lines:
        print("  " + line)
    for wanted in ("SMS-IsMMS=1", "SMS-Recp=5550101", "SMS-Recn=Ann", "SMS-Recp=5550102", "SMS-Recn=Ben",
                   "SMS-Name=" + sender_address, "SMS-Version=1.0.22"):
        if wanted not in lines:
            fail("no gateway field " + wanted)
    print("PASS check_mail")


if __name__ == "__main__":
    main()
