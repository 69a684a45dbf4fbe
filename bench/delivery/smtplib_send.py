"""Sends the benchmark's messages with Python's smtplib, one session each.

Usage: smtplib_send.py PORT MESSAGES_FILE SENDER RECIPIENT HELO_NAME
The file holds the messages separated by a zero byte. Prints the seconds the
sending took (after reading the file), nothing else.
"""
import smtplib
import sys
import time


def main():
    port = int(sys.argv[1])
    with open(sys.argv[2], "rb") as f:
        messages = [m for m in f.read().split(b"\0") if m]
    sender, recipient, helo = sys.argv[3], sys.argv[4], sys.argv[5]
    start = time.perf_counter()
    for message in messages:
        with smtplib.SMTP("127.0.0.1", port, local_hostname=helo, timeout=30) as session:
            session.sendmail(sender, [recipient], message)
    print(f"{time.perf_counter() - start:.6f}")


if __name__ == "__main__":
    main()
