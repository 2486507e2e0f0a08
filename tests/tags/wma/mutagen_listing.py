#!/usr/bin/python3
"""mutagen_listing.py BEFORE AFTER [--changed NAME]...: exit 0 when mutagen reads from AFTER every
value of BEFORE, type and value alike, except under the names given (the fields a save set); a
DWORD track number may come back as its decimal text. Prints the differences; exit 2 without
mutagen."""
import sys

try:
    from mutagen.asf import ASF
except ImportError:
    sys.exit(2)


def listing(path):
    tags = ASF(path).tags
    return {(name, i): (type(v).__name__, v.value)
            for name in tags.keys() for i, v in enumerate(tags[name])}


before, after = listing(sys.argv[1]), listing(sys.argv[2])
changed = sys.argv[4::2]
faults = []
for key, (kind, value) in sorted(before.items()):
    got = after.get(key)
    if key[0] in changed or got == (kind, value) or (
            key[0] == "WM/TrackNumber" and got == ("ASFUnicodeAttribute", str(value))):
        continue
    faults.append(f"{key[0]}: {kind} {value!r} became {got!r}")
print("\n".join(faults))
sys.exit(1 if faults else 0)
