#!/usr/bin/python3
"""A loopback SMTP peer: prints its port, appends each message to the file
given as argument as one line (sender, recipients, the decoded From, To, Subject
and body, tabs between, CR and LF as \\r and \\n). Ends after the seconds given as
second argument, or without one when its input closes (after two minutes at most)."""
import asyncio
import email.header
import os
import sys

from aiosmtpd.smtp import SMTP


def decoded(value):
    return str(email.header.make_header(email.header.decode_header(value or "")))


class Recorder:
    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.original_content or envelope.content)
        payload = message.get_payload(decode=True) or b""
        # The line break that ends the data belongs to the protocol.
        body = payload.decode(message.get_content_charset() or "us-ascii").rstrip("\r\n")
        texts = [envelope.mail_from, ",".join(envelope.rcpt_tos), decoded(message["From"]),
                 decoded(message["To"]), decoded(message["Subject"]), body]
        line = "\t".join(texts).replace("\r", "\\r").replace("\n", "\\n")
        with open(sys.argv[1], "a", encoding="utf-8") as out:
            out.write(line + "\n")
        return "250 2.0.0 Accepted"


async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(Recorder()), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    if len(sys.argv) > 2:
        await asyncio.sleep(float(sys.argv[2]))
    else:
        await asyncio.wait([loop.run_in_executor(None, sys.stdin.read)], timeout=120)
    server.close()
    os._exit(0)  # the thread that reads may still wait


asyncio.run(main())
