#!/usr/bin/python3
"""A real SMTP server on the loopback interface for the mail tests.

Every accepted message is written to OUT/N.eml (the bytes received after
DATA) and OUT/N.env (the envelope: one "FROM addr", one "RCPT addr" per
recipient, "AUTH login" when the session authenticated, "TLS yes|no").

Once listening it prints "READY <port>" on standard output and serves
until standard input is closed or the process is terminated.

  --tls plain|starttls|implicit   how TLS is offered (default plain)
  --cert FILE --key FILE          the server certificate (starttls, implicit)
  --auth LOGIN:PASSWORD           the one account accepted; AUTH is then
                                  required before MAIL
"""
import argparse
import os
import socket
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Recorder:
    def __init__(self, out):
        self.out = out
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.out, str(self.count))
        with open(base + ".eml.tmp", "wb") as f:
            content = envelope.original_content or envelope.content
            f.write(content if isinstance(content, bytes) else content.encode("utf-8"))
        lines = ["FROM " + (envelope.mail_from or "")]
        lines += ["RCPT " + r for r in envelope.rcpt_tos]
        if session.authenticated:
            data = session.auth_data
            login = data.login.decode("utf-8", "replace") if isinstance(data, LoginPassword) else str(data)
            lines.append("AUTH " + login)
        tls = session.ssl or server.transport.get_extra_info("ssl_object") is not None
        lines.append("TLS " + ("yes" if tls else "no"))
        with open(base + ".env.tmp", "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        os.replace(base + ".eml.tmp", base + ".eml")
        os.replace(base + ".env.tmp", base + ".env")
        return "250 Message accepted for delivery"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True)
    p.add_argument("--tls", choices=["plain", "starttls", "implicit"], default="plain")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--auth")
    a = p.parse_args()

    context = None
    if a.tls != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)

    kwargs = {"server_hostname": "mail.test", "ident": "Tessaly test SMTP"}
    if a.tls == "starttls":
        kwargs["tls_context"] = context
    if a.auth:
        login, password = a.auth.split(":", 1)

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (isinstance(auth_data, LoginPassword) and auth_data.login == login.encode()
                  and auth_data.password == password.encode())
            if ok:
                return AuthResult(success=True, auth_data=auth_data)
            # Not handled: the server answers 535 itself.
            return AuthResult(success=False, handled=False)

        kwargs["authenticator"] = authenticator
        kwargs["auth_required"] = True
        # Lets the plain server offer AUTH too, so that every mode can be
        # exercised with an account.
        kwargs["auth_require_tls"] = False

    controller = None
    for _ in range(20):
        port = free_port()
        try:
            controller = Controller(Recorder(a.out), hostname="127.0.0.1", port=port,
                                    ssl_context=context if a.tls == "implicit" else None, **kwargs)
            controller.start()
            break
        except Exception as e:  # the port was taken in between: try another
            print("start on %d: %r" % (port, e), file=sys.stderr, flush=True)
            controller = None
    if controller is None:
        print("FAILED no port", flush=True)
        return 1
    print("READY %d" % port, flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
