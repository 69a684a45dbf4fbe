"""Sends COUNT notifications with Python's smtplib over STARTTLS with AUTH,
one session per mail: starttls(), login(), sendmail(), quit().

Usage: smtplib_tls_send.py PORT CA_FILE MESSAGE_FILE COUNT
Prints the seconds the sending took, nothing else.
"""
import smtplib
import ssl
import sys
import time


def main():
    port, ca_file, message_file, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    with open(message_file, "rb") as f:
        message = f.read()
    context = ssl.create_default_context(cafile=ca_file)
    start = time.perf_counter()
    for _ in range(count):
        with smtplib.SMTP("127.0.0.1", int(port), local_hostname="example.jp", timeout=30) as s:
            s.starttls(context=context)
            s.login("tim", "tanstaaftanstaaf")
            s.sendmail("desk@example.jp", ["yamada@example.jp"], message)
    print(f"{time.perf_counter() - start:.6f}")


if __name__ == "__main__":
    main()
