#!/usr/bin/python3
"""A loopback SMTP server for the mail tests.

Saves every message it accepts as NNN.eml (the raw bytes after DATA, dots already taken away as
SMTP says) and NNN.json (envelope, login, whether TLS was used) in the folder given. Prints the
port it listens on, then runs until it gets SIGTERM or stdin closes.
"""
import argparse
import json
import logging
import os
import signal
import socket
import ssl
import sys
import threading
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            stem = os.path.join(self.folder, "%03d" % self.count)
        with open(stem + ".eml", "wb") as f:
            f.write(envelope.original_content)
        login = None
        if session.auth_data is not None:
            login = session.auth_data
        info = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "login": login,
            "tls": session.ssl is not None
            or server.transport.get_extra_info("ssl_object") is not None,
        }
        with open(stem + ".json.part", "w") as f:
            json.dump(info, f)
        os.rename(stem + ".json.part", stem + ".json")
        return "250 Message accepted"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        if (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
                and auth_data.password == password.encode()):
            return AuthResult(success=True, auth_data=user)
        return AuthResult(success=False, handled=False)
    return authenticate


def main():
    # The refused handshakes are what the tests want; keep their tracebacks out of the test log.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--auth", help="USER:PASSWORD; AUTH is then required")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--tls", choices=["starttls", "implicit"])
    args = parser.parse_args()

    kwargs = {}
    if args.auth:
        user, password = args.auth.split(":", 1)
        kwargs.update(authenticator=make_authenticator(user, password), auth_required=True,
                      auth_require_tls=False)
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        if args.tls == "starttls":
            kwargs["tls_context"] = context
        else:
            kwargs["ssl_context"] = context

    port = free_port()
    controller = Controller(Sink(args.folder), hostname="127.0.0.1", port=port,
                            server_hostname="localhost", **kwargs)
    controller.start()
    print(port, flush=True)

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    done.wait()
    controller.stop()


if __name__ == "__main__":
    main()
