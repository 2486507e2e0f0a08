#!/usr/bin/env python3
"""library.py BEFORE AFTER [--quick] [--only=ITEM,...]: one library-sized action at a time, run by two builds of
velomi-tag (BEFORE and AFTER, the paths of their binaries) in the same script, on the same files,
in turns. Prints one line an item: each build's median and the ratio the goal speaks of.

Items: a set of 10,000 MP3 files with covers (journalled? undone byte for byte?), the undo of a
1,000-file set against the set itself and a conversion against a set, both with 5 ms flushes
(strace's fault injection delays each fsync, fdatasync and syncfs), and the peak memory of a set
and of a rename of 100,000 files."""
import hashlib, json, os, shutil, statistics, struct, subprocess, sys, tempfile, time

QUICK = '--quick' in sys.argv
# --only=covers,undo_and_convert,edit_floor,one_wma,memory runs those items alone.
args = [a for a in sys.argv[1:] if not a.startswith('--')]
BUILDS = {'before': args[0], 'after': args[1]}
ROUNDS = 1 if QUICK else 3


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(fid, body):
    return fid.encode() + struct.pack('>I', len(body)) + b'\0\0' + body


def mp3(i, cover, gbk=False):
    """An MP3 file as rippers tag it: an ID3v2.3 tag (title, artist, album, a cover after them, 1 KiB
    of padding), ten MPEG frames, an ID3v1 block."""
    title = ('标题%d' % i).encode('gbk') if gbk else b'Title %d' % i
    frames = frame('TIT2', b'\0' + title) + frame('TPE1', b'\0Artist %d' % (i % 50))
    frames += frame('TALB', b'\0Album %d' % (i % 200))
    if cover:
        picture = bytes((i * 7 + k * 13 + (k >> 8)) & 0xFF for k in range(256)) * (cover // 256)
        frames += frame('APIC', b'\0image/jpeg\0\3\0' + picture)
    tag = b'ID3\3\0\0' + syncsafe(len(frames) + 1024) + frames + bytes(1024)
    audio = b''.join(b'\xff\xfb\x90\x64' + bytes([(i + k) & 0xFF]) * 413 for k in range(10))
    block = b'TAG' + b'Title %d' % i + bytes(30 - len(b'Title %d' % i)) + bytes(94) + b'\x0c'
    return tag + audio + block


def corpus(folder, count, cover, gbk=False):
    os.makedirs(folder)
    for i in range(count):
        with open(os.path.join(folder, '%05d.mp3' % i), 'wb') as f:
            f.write(mp3(i, cover, gbk))


def digest(folder):
    h = hashlib.sha256()
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), 'rb') as f:
            h.update(name.encode() + f.read())
    return h.hexdigest()


def run(build, state, argv, slow=False, memory=False):
    env = dict(os.environ, XDG_STATE_HOME=state, LC_ALL='C.UTF-8')
    command = [BUILDS[build]] + argv
    if memory:
        command = ['/usr/bin/time', '-f', '%M'] + command
    if slow:
        delay = 'delay_exit=5000'
        command = ['strace', '-f', '--seccomp-bpf', '-qq', '-o', '/dev/null',
                   '-e', 'trace=fsync,fdatasync,syncfs',
                   '-e', 'inject=fsync,fdatasync,syncfs:' + delay] + command
    start = time.perf_counter()
    p = subprocess.run(command, env=env, capture_output=True, text=True)
    took = time.perf_counter() - start
    if memory:
        return took, int(p.stderr.strip().splitlines()[-1]), p
    return took, p


def journal_size(state):
    path = os.path.join(state, 'velomi', 'journal.jsonl')
    return os.path.getsize(path) if os.path.exists(path) else 0


def item_covers(root):
    n = 200 if QUICK else 10000
    print('== %d MP3 files with ID3v2 tags and 96 KiB covers: set -r --title, then undo' % n)
    for build in BUILDS:
        folder, state = os.path.join(root, build + '-covers'), os.path.join(root, build + '-state')
        corpus(folder, n, 96 << 10)
        before = digest(folder)
        took, p = run(build, state, ['set', '-r', '--title', 'A longer title than before', folder])
        size = journal_size(state)
        undo, q = run(build, state, ['undo'])
        back = digest(folder) == before
        print('  %-6s set %.1f s (exit %d), journal %.1f MB, undo %.1f s (exit %d), byte for byte: %s'
              % (build, took, p.returncode, size / 1e6, undo, q.returncode, back))
        if p.returncode != 0 or 'cannot be undone' in p.stderr:
            print('         ' + p.stderr.strip().splitlines()[-1][:150])
        shutil.rmtree(folder)
        shutil.rmtree(state, ignore_errors=True)


def item_undo_and_convert(root):
    n = 100 if QUICK else 1000
    print('== %d files, 5 ms flushes: undo of a set against the set; convert against a set' % n)
    ratios = {}
    for build in BUILDS:
        sets, undos, converts, csets = [], [], [], []
        for r in range(ROUNDS):
            folder, state = os.path.join(root, build + '-u'), os.path.join(root, build + '-s')
            corpus(folder, n, 0)
            took, p = run(build, state, ['set', '--album', 'Round %d' % r, folder], slow=True)
            sets.append(took)
            took, q = run(build, state, ['undo'], slow=True)
            undos.append(took)
            shutil.rmtree(folder)
            corpus(folder, n, 0, gbk=True)
            took, p = run(build, state, ['set', '--comment', 'x', folder], slow=True)
            csets.append(took)
            took, c = run(build, state, ['convert', folder], slow=True)
            converts.append(took)
            shutil.rmtree(folder)
            shutil.rmtree(state, ignore_errors=True)
        s, u = statistics.median(sets), statistics.median(undos)
        cs, cv = statistics.median(csets), statistics.median(converts)
        print('  %-6s set %.0f ms, undo %.0f ms: %.2fx; set %.0f ms, convert %.0f ms: %.2fx'
              % (build, s * 1e3, u * 1e3, u / s, cs * 1e3, cv * 1e3, cv / cs))


def item_memory(root):
    n = 5000 if QUICK else 100000
    print('== %d MP3 files (an ID3v2 tag without a cover, an ID3v1 block): peak memory of set '
          'and of rename' % n)
    folder = os.path.join(root, 'many')
    corpus(folder, n, 0)
    for k, build in enumerate(BUILDS):
        state = os.path.join(root, build + '-m')
        # An album of its own for each build, so that each changes both tags of every file.
        took, peak, p = run(build, state, ['set', '--album', 'Many %d' % k, folder], memory=True)
        print('  %-6s set %.1f s, peak %d MiB (exit %d)' % (build, took, peak // 1024, p.returncode))
        shutil.rmtree(state, ignore_errors=True)
        # The rename works on links to the files, so that each build renames the same names.
        names = os.path.join(root, 'names')
        subprocess.run(['cp', '-al', folder, names], check=True)
        took, peak, p = run(build, state, ['rename', '--format', '%t', names], memory=True)
        print('  %-6s rename %.1f s, peak %d MiB (exit %d)'
              % (build, took, peak // 1024, p.returncode))
        shutil.rmtree(names)
        shutil.rmtree(state, ignore_errors=True)
    shutil.rmtree(folder)


def floor_of_edit(folder, state):
    """The batch edit's floor, in this process: one record written and flushed, each file opened,
    its tag region and its block written over, closed; then one syncfs. Gives its time without
    the flushes' delay."""
    os.makedirs(state, exist_ok=True)
    start = time.perf_counter()
    fd = os.open(os.path.join(state, 'record'), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
    os.write(fd, b'x' * 640 * len(os.listdir(folder)))
    os.fdatasync(fd)
    os.close(fd)
    for name in sorted(os.listdir(folder)):
        fd = os.open(os.path.join(folder, name), os.O_RDWR)
        size = os.fstat(fd).st_size
        os.pwrite(fd, os.pread(fd, 1024, 0), 0)
        os.pwrite(fd, os.pread(fd, 128, size - 128), size - 128)
        os.close(fd)
    fd = os.open(folder, os.O_RDONLY)
    os.syncfs(fd) if hasattr(os, 'syncfs') else os.sync()
    os.close(fd)
    return time.perf_counter() - start


def item_edit_floor(root):
    n = 100 if QUICK else 1000
    print('== %d files, 5 ms flushes: set of one field against its floor (the start-up of '
          '--version, one record flush, the writes, one syncfs)' % n)
    for build in BUILDS:
        sets, floors = [], []
        for r in range(ROUNDS):
            folder, state = os.path.join(root, build + '-f'), os.path.join(root, build + '-fs')
            corpus(folder, n, 0)
            took, p = run(build, state, ['set', '--album', 'Round %d' % r, folder], slow=True)
            sets.append(took)
            start, _ = run(build, state, ['--version'], slow=True)
            floors.append(start + floor_of_edit(folder, state + '-floor') + 2 * 0.005)
            shutil.rmtree(folder)
            shutil.rmtree(state, ignore_errors=True)
            shutil.rmtree(state + '-floor', ignore_errors=True)
        s, f = statistics.median(sets), statistics.median(floors)
        print('  %-6s set %.0f ms, floor %.0f ms: %.2fx' % (build, s * 1e3, f * 1e3, s / f))


def item_one_wma(root):
    rounds = 10 if QUICK else 40
    print('== one set of one WMA file whose header fits, 5 ms flushes, against --version and its '
          'two flushes (medians of %d)' % rounds)
    folder = os.path.join(root, 'wma')
    os.makedirs(folder)
    path = os.path.join(folder, 'a.wma')
    subprocess.run(['ffmpeg', '-loglevel', 'error', '-f', 'lavfi', '-i', 'sine=d=1', '-c:a', 'wmav2',
                    '-metadata', 'title=Title', path], check=True)
    for build in BUILDS:
        state = os.path.join(root, build + '-w')
        run(build, state, ['set', '--title', 'Title A', path])  # the header gets its room once
        sets, versions = [], []
        for r in range(rounds):
            sets.append(run(build, state, ['set', '--title', 'Title %s' % 'AB'[r % 2], path],
                            slow=True)[0])
            versions.append(run(build, state, ['--version'], slow=True)[0] + 2 * 0.005)
        s, v = statistics.median(sets), statistics.median(versions)
        print('  %-6s set %.1f ms, --version + two flushes %.1f ms: %.2fx' % (build, s * 1e3, v * 1e3, s / v))
        shutil.rmtree(state, ignore_errors=True)
    shutil.rmtree(folder)


ITEMS = [item_covers, item_undo_and_convert, item_edit_floor, item_one_wma, item_memory]
ONLY = [a[len('--only='):] for a in sys.argv[1:] if a.startswith('--only=')]
if ONLY:
    ITEMS = [i for i in ITEMS if i.__name__[len('item_'):] in ONLY[0].split(',')]


def main():
    root = tempfile.mkdtemp(prefix='velomi-library-')
    try:
        for item in ITEMS:
            item(root)
            sys.stdout.flush()
    finally:
        shutil.rmtree(root, ignore_errors=True)


main()
