"""Reads one JSON document strictly (no control characters in strings, no
repeated member names) and prints it again on one line, ASCII only, members in
their order, so a test can compare the whole document as one string."""
import json
import sys


def no_repeated_members(pairs):
    names = [name for name, _ in pairs]
    if len(names) != len(set(names)):
        raise SystemExit("repeated member name in " + repr(names))
    return dict(pairs)


with open(sys.argv[1], encoding="utf-8") as f:
    text = f.read()
document = json.loads(text, object_pairs_hook=no_repeated_members)
print(json.dumps(document, ensure_ascii=True))
