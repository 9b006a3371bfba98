"""save and dump_includes under concurrency: a directory or a target swapped
for a link while files are being replaced, and edits from other threads
while a save is writing."""

import os
import random
import threading
import time

import pytest

import quillfern as q
from test_directives import tree

RT = q.OPT_ROUND_TRIP | q.OPT_INCLUDES


def load_conf(conf):
    path = conf / "main.yaml"
    doc = q.loads(path.read_bytes(), option=RT, include_dir=str(conf), root_path=str(path))
    doc.set_origin(str(path))
    return doc


def temporaries(*dirs):
    return sorted(str(p) for d in dirs if d.exists() for p in d.rglob("*") if ".quillfern-tmp." in p.name)


def outside_state(directory):
    """Names, bytes and inodes: a file replaced by equal bytes shows too."""
    return {str(p.relative_to(directory)): (p.read_bytes(), p.lstat().st_ino)
            for p in sorted(directory.rglob("*"))}


class Swapper:
    """Swaps conf/sub (the directory) or conf/sub/b.yaml (the target) for a
    link to a directory outside the tree, at most once per save: before it,
    after a random delay, or as soon as the big file's temporary appears
    (when the small files' temporaries are about to be made)."""

    def __init__(self, conf, outside, what):
        self.conf = conf
        sub = conf / "sub"
        self.place = sub if what == "directory" else sub / "b.yaml"
        self.moved = self.place.with_name(self.place.name + ".moved")
        self.link_to = outside if what == "directory" else outside / "b.yaml"

    def swap(self):
        os.rename(self.place, self.moved)
        try:
            os.symlink(self.link_to, self.place)
        except FileExistsError:
            pass  # a save renamed its file into the place first: no link this round

    def start(self, when):
        self.done = threading.Event()
        if when == "before":
            self.thread = None
            self.swap()
            return
        self.thread = threading.Thread(target=self._run, args=(when,))
        self.thread.start()

    def _run(self, when):
        if when == "temporary":
            while not self.done.is_set():
                if any(".quillfern-tmp." in n for n in os.listdir(self.conf)):
                    self.swap()
                    return
        elif not self.done.wait(when):
            self.swap()

    def restore(self):
        """Puts the tree back: the moved entry returns unless a save already
        replaced the link with a file of its own (then that file stays)."""
        self.done.set()
        if self.thread:
            self.thread.join()
        if os.path.islink(self.place):
            os.unlink(self.place)
            os.rename(self.moved, self.place)
        elif os.path.lexists(self.moved):
            os.unlink(self.moved)


@pytest.mark.parametrize("what", ["directory", "target"])
def test_a_link_swapped_in_during_saves_writes_nothing_outside_the_tree(tmp_path, what):
    big = "".join(f"k{i}: value number {i} of the big file\n" for i in range(20_000))
    conf = tree(tmp_path / "conf", {
        "main.yaml": "big: !include big.yaml\nb: !include sub/b.yaml\nc: !include sub/c.yaml\nn: 0\n",
        "big.yaml": big, "sub/b.yaml": "x: 0\n", "sub/c.yaml": "y: 0\n"})
    outside = tree(tmp_path / "outside", {"b.yaml": "x: outside\n", "c.yaml": "y: outside\n"})
    outside_before = outside_state(outside)
    doc = load_conf(conf)
    names = ["main.yaml", "big.yaml", "sub/b.yaml", "sub/c.yaml"]

    def contents():
        return {n: (conf / n).read_bytes() for n in names}

    # How long one save takes, to spread the swaps over it.
    doc["big"]["k0"] = "timed"
    start = time.monotonic()
    doc.save()
    span = (time.monotonic() - start) * 1.5
    rng = random.Random(32)
    swapper = Swapper(conf, outside, what)
    outcomes = {"written": 0, "refused": 0}
    end = time.monotonic() + 1.5
    rounds = 0
    while time.monotonic() < end or rounds < 20:
        rounds += 1
        before = contents()
        doc["big"]["k0"] = f"round {rounds}"
        doc["b"]["x"] = rounds
        doc["c"]["y"] = rounds
        doc["n"] = rounds
        main = doc.to_yaml()
        after = {"main.yaml": main if isinstance(main, bytes) else main.encode(), "big.yaml": None,
                 "sub/b.yaml": f"x: {rounds}\n".encode(), "sub/c.yaml": f"y: {rounds}\n".encode()}
        swapper.start(("before", "temporary", rng.uniform(0, span))[rounds % 3])
        dump = rounds % 5 == 0
        try:
            if dump:
                q.dump_includes(doc)
            else:
                doc.save()
            outcomes["written"] += 1
        except (ValueError if dump else OSError) as e:
            assert type(e) is (ValueError if dump else OSError)
            assert str(e).startswith("cannot write "), e
            outcomes["refused"] += 1
        finally:
            swapper.restore()
        assert outside_state(outside) == outside_before
        assert temporaries(tmp_path) == []
        now = contents()
        for n in names:
            if n == "big.yaml":
                assert now[n].startswith(f"k0: round {rounds}\n".encode()) or now[n] == before[n]
            elif not (dump and n == "main.yaml"):
                assert now[n] in (before[n], after[n]), n
    assert outcomes["refused"] > 0 and outcomes["written"] > 0, outcomes
    # The document's own replacements are the files it writes from then on.
    doc["n"] = "final"
    doc["b"]["x"] = "final"
    doc.save()
    assert load_conf(conf).to_dict() == doc.to_dict()


@pytest.mark.parametrize("call", ["save", "dump_includes"])
def test_edits_from_another_thread_go_on_while_files_are_written(tmp_path, call):
    big = "".join(f"k{i}: value {i}\n" for i in range(20_000))
    conf = tree(tmp_path / "conf", {"main.yaml": "big: !include big.yaml\nb: !include sub/b.yaml\nn: 0\n",
                                    "big.yaml": big, "sub/b.yaml": "x: 0\n"})
    doc = load_conf(conf)
    stop = threading.Event()
    errors, edits = [], [0]

    def edit():
        while not stop.is_set():
            edits[0] += 1
            try:
                doc["n"] = edits[0]
                doc["b"]["x"] = edits[0]
                doc["big"]["k1"] = f"edit {edits[0]}"
                doc["b"]["extra"] = [1, 2]
                del doc["b"]["extra"]
            except Exception as e:  # noqa: BLE001 - any failure is the fault looked for
                errors.append(e)
                return

    editor = threading.Thread(target=edit)
    editor.start()
    try:
        end = time.monotonic() + 1.0
        saves = 0
        while time.monotonic() < end or saves < 10:
            saves += 1
            if call == "save":
                doc.save()
            else:
                q.dump_includes(doc)
    finally:
        stop.set()
        editor.join()
    assert errors == []
    assert edits[0] > saves  # the editor ran while files were written
    # Nothing of the edits was lost: they are all marked for the next save.
    doc.save()
    assert load_conf(conf).to_dict() == doc.to_dict()
    assert (conf / "sub/b.yaml").read_bytes() == f"x: {edits[0]}\n".encode()


def test_a_save_writes_the_document_as_it_was_when_it_began(tmp_path):
    """A whole document deleted while the unchanged text is being written:
    the save writes the text it started with, the next one the deletion."""
    text = "".join(f"---\nd{i}: {'v' * 200}\n" for i in range(20_000))
    doc = q.loads(text, option=q.OPT_ROUND_TRIP)
    target = tmp_path / "out.yaml"
    deleted = threading.Event()

    def delete_while_writing():
        end = time.monotonic() + 5
        while time.monotonic() < end:
            if any(".quillfern-tmp." in n for n in os.listdir(tmp_path)):
                del doc[0]
                deleted.set()
                return

    for _ in range(20):  # until the deletion lands within the write
        deleter = threading.Thread(target=delete_while_writing)
        deleter.start()
        assert doc.save(str(target)) == [str(target)]
        deleter.join()
        if deleted.is_set():
            break
        doc = q.loads(text, option=q.OPT_ROUND_TRIP)
    assert deleted.is_set()
    assert target.read_bytes() == text.encode()
    doc.save(str(target))
    assert q.loads_all(target.read_bytes())[0] == {"d1": "v" * 200}


def test_saves_of_one_document_from_several_threads_each_find_the_files_written(tmp_path):
    conf = tree(tmp_path / "conf", {"main.yaml": "a: !include a.yaml\nb: !include sub/b.yaml\n",
                                    "a.yaml": "x: 0\n", "sub/b.yaml": "y: 0\n"})
    doc = load_conf(conf)
    doc["a"]["x"] = 1
    doc["b"]["y"] = 1
    errors = []

    def saves(n):
        try:
            for i in range(n):
                if i % 4 == 3:
                    q.dump_includes(doc)
                else:
                    doc.save()
        except Exception as e:  # noqa: BLE001 - any failure is the fault looked for
            errors.append(e)

    threads = [threading.Thread(target=saves, args=(12,)) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    doc["b"]["y"] = 2
    assert len(doc.save()) == 2
    assert load_conf(conf).to_dict() == {"a": {"x": 1}, "b": {"y": 2}}
    assert temporaries(tmp_path) == []
