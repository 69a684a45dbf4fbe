"""Parses a received message with Python's email package and prints what a
mail program would show: the field names in order, the decoded names and
addresses, the subject, the content type, the defects found and the body."""
import sys
from email import policy
from email.parser import BytesParser

with open(sys.argv[1], "rb") as f:
    message = BytesParser(policy=policy.default).parse(f)

print("Fields:", ", ".join(message.keys()))
for name in ("From", "To"):
    address = message[name].addresses[0]
    print(f"{name}: {address.display_name} | {address.addr_spec}")
print("Subject:", str(message["Subject"]))
print("Type:", message.get_content_type(), message.get_content_charset())
defects = list(message.defects)
for name in message.keys():
    defects += list(getattr(message[name], "defects", []))
print("Defects:", len(defects))
print("Body:")
sys.stdout.write(message.get_content())
