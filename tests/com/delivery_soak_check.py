#!/usr/bin/python3
"""Holds each send of the delivery soak against what the server kept.

    delivery_soak_check.py RESULTS SERVER-DIR SENDS-EXPECTED

RESULTS: the driver's lines "TOKEN RESULT MILLISECONDS DETAIL". SERVER-DIR:
scripted_server.py --soak's kept/ and transactions.jsonl. A result of 0
must have exactly one copy kept; any other result none, or one only where
the server kept the message and then cut the connection without a reply.
Never two. Prints a table of outcomes per fault met and result; exits 1 on
any send that breaks the rule, or where a fault was never met.
"""
import collections
import email
import email.policy
import glob
import json
import os
import re
import sys

FAULTS = ("late", "421-at-mail", "rcpt-4xx", "cut-after-message", "idle-close", "extra-reply")


def main():
    results_path, server_dir, expected = sys.argv[1], sys.argv[2], int(sys.argv[3])
    sends = {}
    with open(results_path, encoding="latin-1") as f:
        for line in f:
            fields = line.rstrip("\r\n").split(" ", 3)
            if len(fields) >= 3 and re.fullmatch(r"a\d+s\d+", fields[0]):
                sends[fields[0]] = {"result": int(fields[1]), "ms": int(fields[2]),
                                    "detail": fields[3] if len(fields) > 3 else ""}
    copies = collections.Counter()
    for path in glob.glob(os.path.join(server_dir, "kept", "*.eml")):
        with open(path, "rb") as f:
            subject = email.message_from_binary_file(f, policy=email.policy.default)["Subject"] or ""
        copies[subject.removeprefix("soak ")] += 1
    met = collections.defaultdict(list)  # token: its transactions' faults, in order
    cut_kept = set()
    transactions = os.path.join(server_dir, "transactions.jsonl")
    if os.path.exists(transactions):
        with open(transactions) as f:
            # A MAIL dropped by an idle close came first: a send takes a kept session only at its start.
            rows = sorted(map(json.loads, f), key=lambda row: -1 if row["attempt"] is None else row["attempt"])
        for row in rows:
            met[row["token"]].append(row["fault"])
            if row["fault"] == "cut-after-message" and row["kept"]:
                cut_kept.add(row["token"])

    problems = []
    if len(sends) != expected:
        problems.append("%d of %d sends reported a result" % (len(sends), expected))
    for token in sorted(set(copies) - set(sends)):
        problems.append("%s: %d copies kept of a mail no send reported" % (token, copies[token]))
    table = collections.Counter()
    wrong = 0
    # Duplicates first: the fault the host's retries would multiply.
    for token, send in sorted(sends.items(), key=lambda item: (-copies[item[0]], item[0])):
        kept, result = copies[token], send["result"]
        right = kept == 1 if result == 0 else kept == 0 or (kept == 1 and token in cut_kept)
        path = ">".join(met[token]) or "(none seen)"
        table[(path, result, kept, right)] += 1
        if not right:
            wrong += 1
            if wrong <= 12:
                problems.append("%s: result %d with %d copies kept, after %s, %d ms; %s"
                                % (token, result, kept, path, send["ms"], send["detail"]))
    if wrong > 12:
        problems.append("... and %d more sends like these" % (wrong - 12))
    seen = {fault for faults in met.values() for fault in faults}
    for fault in FAULTS:
        if fault not in seen:
            problems.append("no send met %s: the soak proved nothing of it" % fault)

    print("%-34s %6s %5s %5s  %s" % ("faults met (in order)", "result", "kept", "sends", ""))
    for (path, result, kept, right), count in sorted(table.items()):
        print("%-34s %6d %5d %5d  %s" % (path, result, kept, count, "" if right else "WRONG"))
    print("%d of %d sends right (%d reported 0)" % (len(sends) - wrong, len(sends),
                                                     sum(1 for s in sends.values() if s["result"] == 0)))
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
