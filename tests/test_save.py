"""QuillfernDocument.save, dump_includes and dump_includes_map on documents
loaded without directives: what is written, argument errors and their order,
how targets are replaced (modes, links, odd targets, temporaries), and that
a failure at any point leaves the target byte for byte."""

import os
import pathlib
import random
import signal
import subprocess
import sys
import tempfile
import textwrap
import time

import pytest

import quillfern as q
from helpers import CORPUS, corpus_files
from test_edits_corpus import same
from test_roundtrip_documents import reentrant_key

RT = q.OPT_ROUND_TRIP


def load(text):
    return q.loads(text, option=RT)


def temporaries(directory):
    return sorted(p.name for p in pathlib.Path(directory).iterdir() if ".quillfern-tmp." in p.name)


def run_child(code, *args, check=True, **kwargs):
    """Runs `code` in a fresh interpreter (argv[1:] = args)."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *map(str, args)],
                          capture_output=True, text=True, check=check, **kwargs)


# ---- what is written ----

UNCHANGED = {
    "plain": "a: 1\nb: [x, y]\n",
    "comments and spacing": "# head\nkey:   value   # note\n\n\nlist:\n- 1\n",
    "bom": "\ufeffk: v\n",
    "crlf": "a: 1\r\nb:\r\n  - x\r\n",
    "no final newline": "a: |-\n  text",
    "several documents": "%YAML 1.2\n---\na: 1\n...\n---\nb: 2\n",
    "comments only": "# nothing\n",
    "empty": "",
}


@pytest.mark.parametrize("name", UNCHANGED)
def test_an_unchanged_document_saves_its_loaded_bytes(name, tmp_path):
    text = UNCHANGED[name]
    doc = load(text)
    assert doc.save() == []  # nothing changed, no origin needed
    target = tmp_path / "out.yaml"
    for _ in range(2):  # twice: the same bytes again
        assert doc.save(str(target)) == [str(target)]
        assert target.read_bytes() == text.encode()
    assert doc.origin is None  # saving to a path does not make it the origin
    assert temporaries(tmp_path) == []


def test_edits_are_saved_to_the_origin_or_the_given_path(tmp_path):
    doc = load("# settings\nport: 80   # default\nhosts: [a, b]\n")
    doc["port"] = 8080
    with pytest.raises(ValueError, match=r"^save\(\) needs a path: this document was not loaded from a file$"):
        doc.save()
    assert list(tmp_path.iterdir()) == []
    origin = tmp_path / "settings.yaml"
    doc.set_origin(str(origin))
    expected = b"# settings\nport: 8080   # default\nhosts: [a, b]\n"
    assert doc.to_yaml() == expected
    for _ in range(2):  # the marks stay: a second save writes again
        origin.write_bytes(b"replaced meanwhile\n")
        assert doc.save() == [str(origin)]
        assert origin.read_bytes() == expected
    other = tmp_path / "other.yaml"
    assert doc.save(path=str(other)) == [str(other)]
    assert doc.save(None) == [str(origin)]
    assert other.read_bytes() == expected
    assert doc.origin == str(origin)


def test_every_kind_of_edit_after_an_unchanged_save_is_saved(tmp_path):
    # An unchanged document is recognised once and remembered until the next
    # edit; each edit below must be seen.
    target = tmp_path / "t.yaml"
    doc = load("a: {k: 1}\nb: [1, 2]\nc: 3\n")
    view = doc["a"]
    steps = [
        (lambda: None, b"a: {k: 1}\nb: [1, 2]\nc: 3\n"),
        (lambda: doc.__setitem__("c", 4), b"a: {k: 1}\nb: [1, 2]\nc: 4\n"),
        (lambda: view.__setitem__("k", 2), b"a: {k: 2}\nb: [1, 2]\nc: 4\n"),
        (lambda: doc["b"].__delitem__(0), b"a: {k: 2}\nb: [2]\nc: 4\n"),
        (lambda: doc.__delitem__("a"), b"b: [2]\nc: 4\n"),
    ]
    for edit, expected in steps:
        edit()
        doc.save(str(target))
        assert target.read_bytes() == expected == doc.to_yaml()


@pytest.mark.parametrize("text", ["%YAML 1.1\n---\non: yes\n", "a: 1\n---\nb: 2\n"])
def test_saved_bytes_are_the_rendered_bytes(text, tmp_path):
    doc = load(text)
    assert doc.save(str(tmp_path / "t.yaml")) == [str(tmp_path / "t.yaml")]
    assert (tmp_path / "t.yaml").read_bytes() == doc.to_yaml()


def test_deleting_a_whole_document_is_a_change_to_save(tmp_path):
    doc = load("a: 1\n---\nb: 2\n---\nc: 3\n")
    del doc[1]
    with pytest.raises(ValueError, match="needs a path"):
        doc.save()
    doc.set_origin(str(tmp_path / "s.yaml"))
    assert doc.save() == [str(tmp_path / "s.yaml")]
    assert q.loads_all((tmp_path / "s.yaml").read_bytes()) == [{"a": 1}, {"c": 3}]


def test_documents_of_loads_all_save_their_own_part(tmp_path):
    parts = q.loads_all("a: 1\n---\nb: 2  # two\n", option=RT)
    parts[1]["b"] = 3
    assert parts[0].save(str(tmp_path / "0.yaml")) == [str(tmp_path / "0.yaml")]
    assert parts[1].save(str(tmp_path / "1.yaml")) == [str(tmp_path / "1.yaml")]
    assert (tmp_path / "0.yaml").read_bytes() == b"a: 1\n"
    assert (tmp_path / "1.yaml").read_bytes() == b"---\nb: 3  # two\n"


# ---- arguments ----

ARGUMENT_ERRORS = [
    ((1,), {}, TypeError, "'int' object cannot be converted to 'str'", ["while processing 'path'"]),
    ((pathlib.Path("x.yaml"),), {}, TypeError, "'PosixPath' object cannot be converted to 'str'",
     ["while processing 'path'"]),
    (("a\0b",), {}, ValueError, "embedded null byte", ["while processing 'path'"]),
    (("bad\udcff.yaml",), {}, UnicodeEncodeError, None, ["while processing 'path'"]),
    (("a", "b"), {}, TypeError, "QuillfernDocument.save() takes from 0 to 1 positional arguments but 2 were given", None),
    ((), {"file": "a"}, TypeError, "QuillfernDocument.save() got an unexpected keyword argument 'file'", None),
]


@pytest.mark.parametrize("args, kwargs, exc, message, notes", ARGUMENT_ERRORS)
def test_argument_errors(args, kwargs, exc, message, notes, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    doc = load("a: 1\n")
    with pytest.raises(exc) as e:
        doc.save(*args, **kwargs)
    if message is not None:
        assert str(e.value) == message
    assert getattr(e.value, "__notes__", None) == notes
    assert list(tmp_path.iterdir()) == []


def test_paths_that_cannot_be_files(tmp_path):
    doc = load("a: 1\n")
    fixed = "cannot write a path that ends in `..` or is empty"
    (tmp_path / "dir").mkdir()
    os.mkfifo(tmp_path / "fifo")
    cases = {
        "": f"cannot write : {fixed}",
        f"{tmp_path}/dir/..": f"cannot write {tmp_path}/dir/..: {fixed}",
        str(tmp_path / "dir"): f"cannot write {tmp_path / 'dir'}: not a regular file",
        str(tmp_path / "fifo"): f"cannot write {tmp_path / 'fifo'}: not a regular file",
        str(tmp_path / "missing" / "x.yaml"):
            f"cannot write {tmp_path / 'missing' / 'x.yaml'}: No such file or directory (os error 2)",
        f"{tmp_path}/new.yaml/": f"cannot write {tmp_path}/new.yaml/: Is a directory (os error 21)",
    }
    for path, message in cases.items():
        with pytest.raises(OSError) as e:
            doc.save(path)
        assert type(e.value) is OSError
        assert e.value.args == (message,)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["dir", "fifo"]


def test_an_origin_holding_nul_is_refused_without_writing(tmp_path):
    doc = load("a: 1\n")
    doc["a"] = 2
    doc.set_origin(str(tmp_path / "x\0y"))
    with pytest.raises(ValueError) as e:
        doc.save()
    assert str(e.value) == "embedded null byte"
    assert getattr(e.value, "__notes__", None) is None
    assert list(tmp_path.iterdir()) == []


def test_save_during_an_edit_meets_the_borrow_before_its_argument():
    doc = load("a: 1\n")
    seen = []
    key = reentrant_key(lambda: doc.save(1), seen)
    with pytest.raises(TypeError):
        doc[key] = 2
    assert seen and set(seen) == {(RuntimeError, "Already mutably borrowed")}
    assert doc.save() == []


def test_dump_includes_of_documents_loaded_without_includes(tmp_path):
    doc = load("a: 1\n")
    message = "document was not loaded with OPT_INCLUDES; nothing to write back"
    for call in (lambda: q.dump_includes(doc), lambda: q.dump_includes(doc, include_dir=tmp_path),
                 lambda: q.dump_includes(doc, include_dir=str(tmp_path)), lambda: q.dump_includes_map(doc)):
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == message
    errors = [
        (lambda: q.dump_includes({"a": 1}), TypeError, "'dict' object cannot be converted to 'QuillfernDocument'",
         "doc"),
        (lambda: q.dump_includes_map(5), TypeError,
         "'int' object cannot be converted to 'QuillfernDocument'", "doc"),
        (lambda: q.dump_includes(doc, include_dir=3), TypeError, None, "include_dir"),
        # The document is checked first.
        (lambda: q.dump_includes(5, include_dir=3), TypeError, "'int' object cannot be converted to 'QuillfernDocument'",
         "doc"),
    ]
    for call, exc, text, name in errors:
        with pytest.raises(exc) as e:
            call()
        if text:
            assert str(e.value) == text
        assert e.value.__notes__ == [f"while processing '{name}'"]

    def during_an_edit():
        for call in (q.dump_includes, q.dump_includes_map):
            with pytest.raises(RuntimeError) as e:
                call(doc)
            assert str(e.value) == "Already mutably borrowed"
            assert e.value.__notes__ == ["while processing 'doc'"]

    seen = []
    with pytest.raises(TypeError):
        doc[reentrant_key(during_an_edit, seen)] = 2
    assert seen and set(seen) == {None}
    assert list(tmp_path.iterdir()) == []


# ---- how the target is replaced ----


def test_mode_bits_and_links_are_kept(tmp_path):
    doc = load("a: 1\n")
    doc["a"] = 2
    target = tmp_path / "real" / "conf.yaml"
    target.parent.mkdir()
    target.write_bytes(b"old\n")
    target.chmod(0o640)
    link = tmp_path / "conf.yaml"
    link.symlink_to("real/conf.yaml")
    assert doc.save(str(link)) == [str(link)]
    assert link.is_symlink() and target.read_bytes() == b"a: 2\n"
    assert target.stat().st_mode & 0o7777 == 0o640
    # A dangling link creates its target, as open(path, "w") would.
    dangling = tmp_path / "new.yaml"
    dangling.symlink_to("real/created.yaml")
    doc.save(str(dangling))
    assert dangling.is_symlink() and (tmp_path / "real" / "created.yaml").read_bytes() == b"a: 2\n"
    # Another hard link keeps the old content: the file is replaced, not rewritten.
    os.link(target, tmp_path / "hard.yaml")
    doc["a"] = 3
    doc.save(str(target))
    assert (tmp_path / "hard.yaml").read_bytes() == b"a: 2\n"
    assert temporaries(tmp_path) == temporaries(target.parent) == []


def test_new_files_follow_the_umask(tmp_path):
    old = os.umask(0o027)
    try:
        load("a: 1\n").save(str(tmp_path / "n.yaml"))
    finally:
        os.umask(old)
    assert (tmp_path / "n.yaml").stat().st_mode & 0o777 == 0o640


class CreatedNames:
    """The names created in a directory, in order, seen through inotify."""

    IN_CREATE = 0x100
    IN_NONBLOCK = 0o4000

    def __init__(self, directory):
        import ctypes
        import ctypes.util

        self.libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        self.fd = self.libc.inotify_init1(self.IN_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, os.fsencode(directory), self.IN_CREATE) < 0:
            pytest.skip("inotify is not available")

    def read(self):
        import struct

        names = []
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return names
            pos = 0
            while pos < len(data):
                _, mask, _, size = struct.unpack_from("iIII", data, pos)
                names.append(data[pos + 16:pos + 16 + size].rstrip(b"\0").decode())
                pos += 16 + size

    def close(self):
        os.close(self.fd)


def test_temporary_names_count_from_zero_and_skip_names_already_taken(tmp_path):
    # In a fresh process the counter starts at 0. A stale temporary with that
    # name (left by an earlier process with the same id) is skipped and left
    # as it was; each save takes the next value.
    watch = CreatedNames(tmp_path)
    try:
        out = run_child(
            """
            import os, sys, quillfern as q
            d = sys.argv[1]
            stale = os.path.join(d, f"t.yaml.quillfern-tmp.{os.getpid()}.0")
            with open(stale, "w") as f:
                f.write("stale")
            doc = q.loads("a: 1\\n", option=q.OPT_ROUND_TRIP)
            for i in range(3):
                doc["a"] = i
                doc.save(os.path.join(d, "t.yaml"))
            print(os.getpid())
            """,
            tmp_path,
        )
        created = watch.read()
    finally:
        watch.close()
    pid = out.stdout.strip()
    assert created == [f"t.yaml.quillfern-tmp.{pid}.{n}" for n in range(4)]
    assert sorted(p.name for p in tmp_path.iterdir()) == ["t.yaml", f"t.yaml.quillfern-tmp.{pid}.0"]
    assert (tmp_path / f"t.yaml.quillfern-tmp.{pid}.0").read_text() == "stale"
    assert (tmp_path / "t.yaml").read_bytes() == b"a: 2\n"


# ---- fault injection: the target stays byte for byte, no temporary is left ----

OLD = b"# the file before\nkeep: me\n"
BIG_EDIT = "x" * 20000


def saving_child(limits=""):
    """Loads a document, applies `limits`, saves an edit over argv[1]; prints
    the exception's type and text."""
    return f"""
        import os, sys, quillfern as q
        doc = q.loads(b"keep: me\\n", option=q.OPT_ROUND_TRIP)
        doc["big"] = {BIG_EDIT!r}
        {limits}
        try:
            doc.save(sys.argv[1])
        except Exception as e:
            print(type(e).__name__, e)
        else:
            print("saved")
        """


def check_untouched(directory, target, out, why):
    assert out.stdout.strip() == f"OSError cannot write {target}: {why}", out.stderr
    assert target.read_bytes() == OLD
    assert temporaries(directory) == []


def test_a_read_only_directory(tmp_path):
    if os.geteuid() == 0:
        # As root the child gives up its rights after importing.
        directory = pathlib.Path(tempfile.mkdtemp(prefix="qf-ro-"))
        try:
            directory.chmod(0o755)
            target = directory / "t.yaml"
            target.write_bytes(OLD)
            target.chmod(0o644)
            out = run_child(saving_child("os.setgid(65534); os.setuid(65534)"), target)
            check_untouched(directory, target, out, "Permission denied (os error 13)")
        finally:
            for p in directory.iterdir():
                p.unlink()
            directory.rmdir()
    else:
        target = tmp_path / "t.yaml"
        target.write_bytes(OLD)
        tmp_path.chmod(0o555)
        try:
            out = run_child(saving_child(), target)
            check_untouched(tmp_path, target, out, "Permission denied (os error 13)")
        finally:
            tmp_path.chmod(0o755)


def test_a_file_size_limit(tmp_path):
    target = tmp_path / "t.yaml"
    target.write_bytes(OLD)
    out = run_child(saving_child("import resource; resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))"), target)
    check_untouched(tmp_path, target, out, "File too large (os error 27)")


def test_a_full_file_system(tmp_path):
    mount = tmp_path / "small"
    mount.mkdir()
    script = (
        'mount -t tmpfs -o size=16k tmpfs "$1" && printf "%s" "$2" > "$1/t.yaml" && '
        'exec "$3" -c "$4" "$1/t.yaml" && true'
    )
    code = textwrap.dedent(saving_child()) + textwrap.dedent(
        """
        print(open(sys.argv[1], "rb").read() == %r)
        print(sorted(os.listdir(os.path.dirname(sys.argv[1]))))
        """ % OLD
    )
    for prefix in (["unshare", "--user", "--map-root-user", "--mount"], ["unshare", "--mount"]):
        try:
            out = subprocess.run([*prefix, "sh", "-c", script, "sh", str(mount), OLD.decode(), sys.executable, code],
                                 capture_output=True, text=True, timeout=60)
        except FileNotFoundError:
            pytest.skip("unshare is not installed")
        if out.returncode == 0:
            break
    else:
        pytest.skip(f"cannot mount a small tmpfs here: {out.stderr.strip()}")
    lines = out.stdout.splitlines()
    assert lines == [f"OSError cannot write {mount}/t.yaml: No space left on device (os error 28)", "True",
                     "['t.yaml']"], out.stderr


def test_a_killed_saver_leaves_one_complete_version(tmp_path):
    target = tmp_path / "t.yaml"
    versions = [b"version: one\n", b"version: two\nfill: " + b"y" * 300000 + b"\n"]
    code = f"""
        import sys, quillfern as q
        a = q.loads({versions[0]!r}, option=q.OPT_ROUND_TRIP)
        b = q.loads({versions[1][:19]!r} + b"y" * 300000 + b"\\n", option=q.OPT_ROUND_TRIP)
        a.save(sys.argv[1])
        print("ready", flush=True)
        while True:
            b.save(sys.argv[1])
            a.save(sys.argv[1])
        """
    rnd = random.Random(16)
    for _ in range(12):
        child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code), str(target)], stdout=subprocess.PIPE)
        try:
            assert child.stdout.readline() == b"ready\n"
            time.sleep(rnd.uniform(0, 0.05))
        finally:
            child.send_signal(signal.SIGKILL)
            child.wait()
            child.stdout.close()
        assert target.read_bytes() in versions


# ---- the corpus ----

FILES = corpus_files()
KEY, VALUE = "quillfern_saved", {"by": "save", "n": 1}


@pytest.fixture(scope="module")
def memory_dir(tmp_path_factory):
    """A directory in memory where there is one: syncing hundreds of files to
    a shared disk would only measure the disk."""
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        with tempfile.TemporaryDirectory(prefix="qf-save-", dir="/dev/shm") as d:
            yield pathlib.Path(d)
    else:
        yield tmp_path_factory.mktemp("corpus")


@pytest.mark.parametrize("path", FILES, ids=[str(p.relative_to(CORPUS)) for p in FILES])
def test_corpus_files_save_exactly_and_after_an_edit(path, memory_dir):
    data = path.read_bytes()
    doc = load(data)
    target = memory_dir / str(path.relative_to(CORPUS)).replace("/", "__")
    assert doc.save(str(target)) == [str(target)]
    assert target.read_bytes() == data
    # One top-level key set: on the single mapping document, or on the first
    # mapping document of a stream.
    plain = doc.to_dict()
    roots = int(repr(doc).removeprefix("QuillfernDocument(documents=").removesuffix(")"))
    if roots == 1 and isinstance(plain, dict):
        doc[KEY] = VALUE
        plain[KEY] = VALUE
    else:
        first = next((i for i, d in enumerate(plain) if isinstance(d, dict)), None) if roots > 1 else None
        if first is None:
            return  # a single sequence or scalar, or no mapping at all
        doc[first][KEY] = VALUE
        plain[first][KEY] = VALUE
    doc.set_origin(str(target))
    assert doc.save() == [str(target)]
    saved = target.read_bytes()
    assert saved == doc.to_yaml()
    assert same(load(saved).to_dict(), plain)
