#!/usr/bin/env python3
"""Independent HMAC reference for the tests, on Python's hmac module.

Reads one JSON object per line on stdin and prints one answer per line:
  {"mode": "sign", "key": <base64url room key>, "payload": <text>}
      -> base64url (no "=") of HMAC-SHA256(key bytes, UTF-8 payload)
  {"mode": "turn", "secret": <text>, "username": <text>}
      -> standard base64 of HMAC-SHA1(secret, username), as coturn's use-auth-secret expects
"""
import base64
import hashlib
import hmac
import json
import sys


def base64url_bytes(text):
    text = text.replace("-", "+").replace("_", "/")
    text += "=" * (-len(text) % 4)
    return base64.b64decode(text, validate=True)


for line in sys.stdin:
    request = json.loads(line)
    if request["mode"] == "sign":
        code = hmac.new(base64url_bytes(request["key"]), request["payload"].encode("utf-8"),
                        hashlib.sha256).digest()
        print(base64.urlsafe_b64encode(code).decode("ascii").rstrip("="), flush=True)
    elif request["mode"] == "turn":
        code = hmac.new(request["secret"].encode("utf-8"), request["username"].encode("utf-8"),
                        hashlib.sha1).digest()
        print(base64.b64encode(code).decode("ascii"), flush=True)
    else:
        print("unknown mode", flush=True)
