#!/usr/bin/python3
"""Lists the tags that mutagen reads from WMA files, and compares two of them.

  mutagen_listing.py FILE              prints every value: name, type, value
  mutagen_listing.py BEFORE AFTER      exit 0 when AFTER holds every value of BEFORE, type and
                                       value alike, except the names given with --changed (the
                                       fields a save set); a DWORD track number may come back as
                                       its decimal text. Prints the differences otherwise.
Exit 2 when mutagen is missing.
"""
import sys

try:
    from mutagen.asf import ASF
except ImportError:
    sys.exit(2)


def listing(path):
    tags = ASF(path).tags
    return {(name, i): (type(v).__name__, v.value)
            for name in tags.keys() for i, v in enumerate(tags[name])}


def main(args):
    changed = set()
    while "--changed" in args:
        at = args.index("--changed")
        changed.add(args[at + 1])
        del args[at:at + 2]
    if len(args) == 1:
        for (name, _), (kind, value) in sorted(listing(args[0]).items()):
            print(f"{name}\t{kind}\t{value!r}")
        return 0
    before, after = listing(args[0]), listing(args[1])
    faults = []
    for key, (kind, value) in sorted(before.items()):
        if key[0] in changed:
            continue
        got = after.get(key)
        if got == (kind, value):
            continue
        if key[0] == "WM/TrackNumber" and kind == "ASFDWordAttribute" and \
                got == ("ASFUnicodeAttribute", str(value)):
            continue
        faults.append(f"{key[0]}: {kind} {value!r} became {got!r}")
    print("\n".join(faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
