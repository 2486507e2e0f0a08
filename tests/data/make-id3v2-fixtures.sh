#!/usr/bin/env bash
# Makes the MP3 fixtures that carry an ID3v2 tag, from mp3_untagged.mp3, with real tools (Debian 12:
# ffmpeg 5.1, python3-mutagen 1.46, id3v2 0.1.12). Run from anywhere; writes into this folder.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# An 8 x 8 JPEG for the cover frames (its bytes start ff d8 ff e0, which unsynchronisation escapes).
ffmpeg -v error -y -f lavfi -i color=red:s=8x8 -frames:v 1 -q:v 10 "$tmp/cover.jpg"

# ID3v2.4 in UTF-8 and an ID3v1 block holding UTF-8 bytes (ffmpeg writes both so); the title is
# longer than the ID3v1 slot's 30 bytes, so ffmpeg cuts it there in the middle of a character.
ffmpeg -v error -y -i mp3_untagged.mp3 -c copy -write_xing 0 -id3v2_version 4 -write_id3v1 1 \
  -metadata title="一首标题很长的中文歌曲名字超过三十个字节" -metadata artist="周杰伦" \
  -metadata album="十一月的萧邦" -metadata date=2005 -metadata track=3 -metadata genre=Pop \
  id3v2_v24_ffmpeg.mp3

# ID3v2.3 with GBK bytes in Latin-1 frames, as old Chinese taggers wrote them, a cover, lyrics,
# a private frame, a comment with a description and a genre reference; no ID3v1 block.
cp mp3_untagged.mp3 id3v2_v23_gbk.mp3
cp mp3_untagged.mp3 "$tmp/unsync.mp3"
/usr/bin/python3 - "$tmp/cover.jpg" id3v2_v23_gbk.mp3 "$tmp/unsync.mp3" <<'EOF'
import sys
from mutagen.id3 import (ID3, TIT2, TPE1, TALB, TYER, TRCK, TCON, COMM, APIC, USLT, PRIV, TXXX)

cover = open(sys.argv[1], "rb").read()
def gbk(text):  # GBK bytes carried in a Latin-1 frame
    return text.encode("gbk").decode("latin-1")

tag = ID3()
tag.add(TIT2(encoding=0, text=gbk("发如雪")))
tag.add(TPE1(encoding=0, text=gbk("周杰伦")))
tag.add(TALB(encoding=0, text=gbk("十一月的萧邦")))
tag.add(TYER(encoding=0, text="2005"))
tag.add(TRCK(encoding=0, text="3/12"))
tag.add(TCON(encoding=0, text="(13)"))
tag.add(COMM(encoding=0, lang="chi", desc="", text=gbk("好听的歌")))
tag.add(COMM(encoding=0, lang="eng", desc="iTunNORM", text=" 00000A1B 00000B2C"))
tag.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="", data=cover))
tag.add(USLT(encoding=0, lang="chi", desc="", text=gbk("狼牙月 伊人憔悴")))
tag.add(PRIV(owner="velomi.test", data=bytes(range(256))))
tag.add(TXXX(encoding=0, desc="CATALOG", text="VT-0001"))
tag.save(sys.argv[2], v2_version=3, v1=0, padding=lambda info: 512)

# ID3v2.3 in UTF-16 with a cover, then unsynchronised with mutagen's own encoder: the tag's bytes
# after its header are escaped, the header's flag 0x80 set and its size made the escaped size.
tag = ID3()
tag.add(TIT2(encoding=1, text="月亮代表我的心"))
tag.add(TPE1(encoding=1, text="邓丽君"))
tag.add(TYER(encoding=1, text="1977"))
tag.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="", data=cover))
tag.save(sys.argv[3], v2_version=3, v1=0, padding=lambda info: 64)
from mutagen.id3._util import unsynch, BitPaddedInt
data = open(sys.argv[3], "rb").read()
size = BitPaddedInt(data[6:10])
body = unsynch.encode(data[10:10 + size])
header = data[:5] + bytes([data[5] | 0x80]) + BitPaddedInt.to_str(len(body), width=4)
open(sys.argv[3], "wb").write(header + body + data[10 + size:])
EOF
mv "$tmp/unsync.mp3" id3v2_v23_unsync.mp3

# ID3v2.3 by id3lib (the id3v2 tool), with an ID3v1.1 block beside it.
cp mp3_untagged.mp3 id3v2_v23_id3lib.mp3
id3v2 -t "Hello Song" -a "Some Artist" -A "First Album" -y 2001 -c "a comment" -T 7/12 -g 17 \
  id3v2_v23_id3lib.mp3
