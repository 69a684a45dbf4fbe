#!/usr/bin/python3
"""A real SMTP server with TLS on 127.0.0.1 for the SMTP client's tests.

  tls_smtp_peer.py certs DIR
      makes a throw-away CA (DIR/ca.pem) and server certificates signed by it:
      good (localhost, 127.0.0.1, ::1), other (other.example only) and expired
      (localhost, valid until yesterday), each as DIR/<name>.pem + <name>.key.
  tls_smtp_peer.py serve DIR MODE CERT MECHANISM
      MODE starttls: STARTTLS required before anything else, AUTH only inside
      TLS; MODE tls: TLS from the first byte. CERT names the certificate;
      MECHANISM (CRAM-MD5, LOGIN or PLAIN) is the only one offered, with
      aiosmtpd's own LOGIN prompts ("User Name", "Password"); NONE: no AUTH,
      any sender is taken (a mail exchanger). Prints
      "PORT <n>", writes every message to DIR/message-<n>.eml and the session
      (mechanism, TLS version, sender, recipients) to DIR/message-<n>.txt.
      Ends when its standard input closes.
"""
import asyncio
import datetime
import hashlib
import hmac
import ipaddress
import os
import ssl
import sys

USER = b"tim"
PASSWORD = b"tanstaaftanstaaf"
MECHANISMS = ("CRAM-MD5", "LOGIN", "PLAIN")


def make_certs(folder):
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    now = datetime.datetime.utcnow()

    def write(name, cert, key):
        with open(os.path.join(folder, name + ".pem"), "wb") as f:
            f.write(cert.public_bytes(serialization.Encoding.PEM))
        if key is not None:
            with open(os.path.join(folder, name + ".key"), "wb") as f:
                f.write(key.private_bytes(serialization.Encoding.PEM,
                                          serialization.PrivateFormat.PKCS8,
                                          serialization.NoEncryption()))

    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca_name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "poston test CA")])
    ca = (x509.CertificateBuilder().subject_name(ca_name).issuer_name(ca_name)
          .public_key(ca_key.public_key()).serial_number(x509.random_serial_number())
          .not_valid_before(now - datetime.timedelta(days=1))
          .not_valid_after(now + datetime.timedelta(days=30))
          .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
          .add_extension(x509.KeyUsage(digital_signature=True, key_cert_sign=True, crl_sign=True,
                                       content_commitment=False, key_encipherment=False,
                                       data_encipherment=False, key_agreement=False,
                                       encipher_only=False, decipher_only=False), critical=True)
          .sign(ca_key, hashes.SHA256()))
    write("ca", ca, None)

    def issue(name, names, addresses, not_before, not_after):
        key = ec.generate_private_key(ec.SECP256R1())
        alt = [x509.DNSName(n) for n in names] + [x509.IPAddress(ipaddress.ip_address(a))
                                                   for a in addresses]
        cert = (x509.CertificateBuilder()
                .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, names[0])]))
                .issuer_name(ca_name).public_key(key.public_key())
                .serial_number(x509.random_serial_number())
                .not_valid_before(not_before).not_valid_after(not_after)
                .add_extension(x509.SubjectAlternativeName(alt), critical=False)
                .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
                .add_extension(x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH]),
                               critical=False)
                .sign(ca_key, hashes.SHA256()))
        write(name, cert, key)

    day = datetime.timedelta(days=1)
    issue("good", ["localhost"], ["127.0.0.1", "::1"], now - day, now + 30 * day)
    issue("other", ["other.example"], [], now - day, now + 30 * day)
    issue("expired", ["localhost"], ["127.0.0.1"], now - 30 * day, now - day)


def serve(folder, mode, cert, mechanism):
    import warnings
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    import logging

    # aiosmtpd's own deprecation notices would flood the test output.
    warnings.simplefilter("ignore")
    logging.disable(logging.CRITICAL)

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(folder, cert + ".pem"),
                            os.path.join(folder, cert + ".key"))
    received = 0

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            nonlocal received
            received += 1
            base = os.path.join(folder, "message-%d" % received)
            with open(base + ".eml", "wb") as f:
                f.write(envelope.original_content)
            tls = session.ssl.get("version", "") if session.ssl else ""
            if not tls and server.transport.get_extra_info("ssl_object") is not None:
                tls = server.transport.get_extra_info("ssl_object").version()
            with open(base + ".txt", "w") as f:
                f.write("\n".join([(session.auth_data and session.auth_data[0]) or "NONE", tls,
                                   envelope.mail_from] + list(envelope.rcpt_tos)) + "\n")
            return "250 OK queued"

    def authenticator(server, session, envelope, used, auth_data):
        if used == "CRAM-MD5":
            return AuthResult(success=auth_data, auth_data=("CRAM-MD5",))
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == USER and \
            auth_data.password == PASSWORD
        return AuthResult(success=ok, auth_data=(used,))

    class Server(SMTP):
        async def auth_CRAM__MD5(self, _, args):
            challenge = b"<1896.697170952@postoffice.example.net>"
            answer = await self.challenge_auth(challenge)
            if not isinstance(answer, bytes) or b" " not in answer:
                return AuthResult(success=False)
            user, digest = answer.split(b" ", 1)
            expected = hmac.new(PASSWORD, challenge, hashlib.md5).hexdigest().encode()
            return self._authenticate("CRAM-MD5", user == USER and hmac.compare_digest(
                digest, expected))

    def factory():
        kwargs = dict(authenticator=authenticator, auth_required=mechanism != "NONE",
                      auth_require_tls=True,
                      auth_exclude_mechanism=[m for m in MECHANISMS if m != mechanism],
                      hostname="peer.example")
        if mode == "starttls":
            kwargs.update(tls_context=context, require_starttls=mechanism != "NONE")
        else:
            # aiosmtpd only knows of TLS it started itself; this connection is
            # encrypted from its first byte.
            kwargs.update(auth_require_tls=False)
        return Server(Handler(), **kwargs)

    async def main():
        loop = asyncio.get_running_loop()
        server = await loop.create_server(factory, "127.0.0.1", 0,
                                          ssl=context if mode == "tls" else None)
        print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
        stdin_closed = loop.create_future()
        loop.add_reader(sys.stdin.fileno(), lambda: (
            not stdin_closed.done() and not os.read(sys.stdin.fileno(), 4096)
            and stdin_closed.set_result(None)))
        await stdin_closed
        server.close()

    asyncio.run(main())


if __name__ == "__main__":
    if sys.argv[1] == "certs":
        make_certs(sys.argv[2])
    else:
        serve(*sys.argv[2:6])
