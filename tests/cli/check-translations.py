#!/usr/bin/env python3
"""check-translations.py LUPDATE SOURCE_ROOT: fails when a text of the program lacks its
translation. Every Chinese literal of src/core goes through Core::tr or QT_TRANSLATE_NOOP("Core",
...); lupdate over src/core into a copy of velomi-core_en.ts, and over src/cli into a copy of
velomi-tag_zh_CN.ts, leaves no text without a finished translation (English: without Chinese)."""
import pathlib, re, shutil, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

CJK = re.compile(r"[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")
LITERAL_OR_COMMENT = re.compile(r'"(?:[^"\\\n]|\\.)*"|//[^\n]*|/\*.*?\*/', re.S)
WRAPPED = re.compile(r'(?:\bCore::tr\(|QT_TRANSLATE_NOOP\("Core",)\s*$')


def unwrapped_literals(folder):
    for path in sorted(folder.rglob("*.[ch]*")):
        code = path.read_text(encoding="utf-8")
        for m in LITERAL_OR_COMMENT.finditer(code):
            text = m.group(0)
            if text[0] == '"' and CJK.search(text) and not WRAPPED.search(code[:m.start()]):
                yield f"{path.name}:{code.count(chr(10), 0, m.start()) + 1}: {text} is not translatable"


def untranslated(lupdate, root, ts, sources, english):
    with tempfile.TemporaryDirectory() as tmp:
        copy = pathlib.Path(tmp) / ts.name
        shutil.copy(ts, copy)
        subprocess.run([lupdate, "-silent", "-no-obsolete", "-I", str(root / "src"), *sources,
                        "-ts", str(copy)], check=True)
        messages = list(ET.parse(copy).getroot().iter("message"))
    if not messages:
        yield f"{ts.name}: lupdate found no text"
    for message in messages:
        tr = message.find("translation")
        forms = [f.text or "" for f in tr.iter("numerusform")] or [tr.text or ""]
        if tr.get("type") == "unfinished" or not all(forms):
            yield f"{ts.name}: no translation of {message.findtext('source')!r}"
        elif english and any(CJK.search(f) for f in forms):
            yield f"{ts.name}: {message.findtext('source')!r} is translated into Chinese"


def main(lupdate, root):
    root = pathlib.Path(root)
    problems = [*unwrapped_literals(root / "src/core"),
                *untranslated(lupdate, root, root / "translations/velomi-core_en.ts",
                              [str(root / "src/core")], english=True),
                *untranslated(lupdate, root, root / "translations/velomi-tag_zh_CN.ts",
                              [str(root / "src/cli")], english=False)]
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
