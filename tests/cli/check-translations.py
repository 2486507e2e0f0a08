#!/usr/bin/env python3
"""Fails when a text of the program has no finished translation.

Usage: check-translations.py LUPDATE SOURCE_ROOT

- Every Chinese string literal of src/core is a source text of the context "Core" (Core::tr or
  QT_TRANSLATE_NOOP("Core", ...)): one that is not would reach an English user untranslated.
- translations/velomi-core_en.ts, updated by lupdate from src/core into a copy, has an English
  translation of every text (no Chinese in it), and translations/velomi-tag_zh_CN.ts, updated from
  src/cli, a Chinese one of every message of velomi-tag.
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")
LITERAL = re.compile(r'"(?:[^"\\\n]|\\.)*"')
WRAPPED = re.compile(r'(?:\bCore::tr\(|QT_TRANSLATE_NOOP\("Core",)\s*$')


def unwrapped_literals(folder):
    problems = []
    for path in sorted(folder.glob("*.[ch]*")):
        text = path.read_text(encoding="utf-8")
        # Comments out, literals kept: a literal's "//" is no comment.
        code = re.sub(r'"(?:[^"\\\n]|\\.)*"|//[^\n]*|/\*.*?\*/',
                      lambda m: m.group(0) if m.group(0)[0] == '"'
                      else re.sub(r"[^\n]", " ", m.group(0)), text, flags=re.S)
        for m in LITERAL.finditer(code):
            if CJK.search(m.group(0)) and not WRAPPED.search(code[:m.start()]):
                line = code.count("\n", 0, m.start()) + 1
                problems.append(f"{path.name}:{line}: {m.group(0)} is not translatable")
    return problems


def unfinished(lupdate, root, ts, sources, foreign_ok):
    with tempfile.TemporaryDirectory() as tmp:
        copy = pathlib.Path(tmp) / ts.name
        shutil.copy(ts, copy)
        subprocess.run([lupdate, "-silent", "-no-obsolete", "-I", str(root / "src")]
                       + [str(s) for s in sources] + ["-ts", str(copy)], check=True)
        problems = []
        messages = ET.parse(copy).getroot().iter("message")
        count = 0
        for message in messages:
            count += 1
            source = message.findtext("source")
            tr = message.find("translation")
            forms = [f.text or "" for f in tr.iter("numerusform")] or [tr.text or ""]
            if tr.get("type") == "unfinished" or not all(forms):
                problems.append(f"{ts.name}: no translation of {source!r}")
            elif not foreign_ok and any(CJK.search(f) for f in forms):
                problems.append(f"{ts.name}: {source!r} is translated into Chinese")
        if count == 0:
            problems.append(f"{ts.name}: lupdate found no text")
        return problems


def main():
    lupdate, root = sys.argv[1], pathlib.Path(sys.argv[2])
    problems = unwrapped_literals(root / "src" / "core")
    problems += unfinished(lupdate, root, root / "translations" / "velomi-core_en.ts",
                           [root / "src" / "core"], foreign_ok=False)
    problems += unfinished(lupdate, root, root / "translations" / "velomi-tag_zh_CN.ts",
                           [root / "src" / "cli"], foreign_ok=True)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
