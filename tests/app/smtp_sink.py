#!/usr/bin/python3
"""A loopback SMTP peer for the end-to-end test of the terminal.

Listens on 127.0.0.1 on a free port, prints the port as its first line, and
appends every message it accepts to the file given as first argument, one
JSON object a line, with the envelope and the decoded subject, To display name
and body (the terminal writes ISO-2022-JP). Ends by itself after the number of
seconds given as second argument (default 120), so it never outlives a test.
"""
import asyncio
import email
import email.header
import json
import sys

from aiosmtpd.smtp import SMTP


def decoded(value):
    return str(email.header.make_header(email.header.decode_header(value or "")))


class Recorder:
    def __init__(self, path):
        self.path = path

    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.original_content or envelope.content)
        payload = message.get_payload(decode=True) or b""
        charset = message.get_content_charset() or "us-ascii"
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "from": decoded(message["From"]),
            "to": decoded(message["To"]),
            "subject": decoded(message["Subject"]),
            "content_type": message["Content-Type"],
            "body": payload.decode(charset),
        }
        with open(self.path, "a", encoding="utf-8") as out:
            out.write(json.dumps(record, ensure_ascii=False) + "\n")
        return "250 2.0.0 Accepted"


async def main():
    path = sys.argv[1]
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 120.0
    loop = asyncio.get_running_loop()
    recorder = Recorder(path)
    server = await loop.create_server(lambda: SMTP(recorder), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await asyncio.sleep(lifetime)
    server.close()


asyncio.run(main())
