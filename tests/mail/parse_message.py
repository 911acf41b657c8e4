#!/usr/bin/python3
"""Reads one received message (RFC 5322 bytes) with Python's own e-mail
parser and prints what the mail tests check, as JSON: the decoded headers,
whether a Bcc header is present, the text body, and each attachment's file
name, type and content (base 64)."""
import base64
import email
import email.policy
import json
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    out = {
        "from": str(msg["From"] or ""),
        "from_name": msg["From"].addresses[0].display_name if msg["From"] else "",
        "from_addr": msg["From"].addresses[0].addr_spec if msg["From"] else "",
        "to": [a.addr_spec for a in msg["To"].addresses] if msg["To"] else [],
        "to_names": [a.display_name for a in msg["To"].addresses] if msg["To"] else [],
        "cc": [a.addr_spec for a in msg["Cc"].addresses] if msg["Cc"] else [],
        "has_bcc": "Bcc" in msg,
        "subject": str(msg["Subject"] or ""),
        "date": str(msg["Date"] or ""),
        "date_ok": msg["Date"] is not None and msg["Date"].datetime is not None,
        "message_id": str(msg["Message-ID"] or ""),
        "mime_version": str(msg["MIME-Version"] or ""),
        "defects": [type(d).__name__ for part in msg.walk() for d in part.defects],
        "body": "",
        "body_charset": "",
        "attachments": [],
        "long_lines": any(len(line) > 998 for line in raw.split(b"\r\n")),
        "bare_lf": b"\n" in raw.replace(b"\r\n", b""),
    }
    body = msg.get_body(preferencelist=("plain",))
    if body is not None:
        out["body"] = body.get_content()
        out["body_charset"] = body.get_content_charset() or ""
    for part in msg.iter_attachments():
        out["attachments"].append({
            "filename": part.get_filename() or "",
            "type": part.get_content_type(),
            "data": base64.b64encode(part.get_payload(decode=True) or b"").decode("ascii"),
        })
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
