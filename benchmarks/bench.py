#!/usr/bin/env python3
"""Compare quillfern with PyYAML (C loader/dumper), ruamel.yaml and json;
annotated loading also with plain loading and ruamel.yaml's round-trip loader.

Every figure is a ratio measured in the same run: the peer's time divided by
quillfern's (so 20.0x means quillfern took a twentieth of the time).

    python benchmarks/bench.py                # corpus + generated document
    python benchmarks/bench.py --size-mb 5    # smaller generated document
    python benchmarks/bench.py --save-only    # only save(): file replacement and edit + save
    python benchmarks/bench.py --roundtrip-mem  # round-trip memory and speed only

The save section reports our time over the other's (lower is better for us)
for file replacement, and ruamel.yaml's time over ours for edit + save.

--roundtrip-mem measures round-trip documents on a generated 6 MB text of
100,000 block entries and on the corpus: peak memory added by loading (each
loader in a fresh interpreter) beside plain loads, ruamel.yaml and rapidyaml,
load time against plain loads and rapidyaml's parse_in_arena, to_yaml speed
after one edit, the unchanged corpus round trip against ruamel.yaml's, and
the expanded anchor map of an alias bomb at its budget.
"""
from __future__ import annotations

import argparse
import datetime
import io
import json
import os
import pathlib
import random
import subprocess
import sys
import tempfile
import time

import quillfern

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus"

try:
    import yaml as pyyaml
    PY_LOADER = pyyaml.CSafeLoader
    PY_DUMPER = pyyaml.CSafeDumper
except Exception:  # pragma: no cover - optional peer
    pyyaml = None

try:
    from ruamel.yaml import YAML as RuamelYAML
except Exception:  # pragma: no cover - optional peer
    RuamelYAML = None


def optional_orjson():
    """orjson when installed, imported where its figures are taken: its import
    leaves objects behind that a leak checker running the tests would report."""
    try:
        import orjson
    except Exception:  # pragma: no cover - optional peer
        return None
    return orjson


def best_time(fn, repeat: int, min_time: float = 0.2) -> float:
    """Best of `repeat` rounds; each round loops until it has run min_time."""
    best = float("inf")
    for _ in range(repeat):
        n = 0
        start = time.perf_counter()
        while True:
            fn()
            n += 1
            elapsed = time.perf_counter() - start
            if elapsed >= min_time:
                break
        best = min(best, elapsed / n)
    return best


def corpus_texts() -> list[str]:
    files = sorted(p for p in CORPUS.rglob("*") if p.suffix in (".yaml", ".yml"))
    return [p.read_text(encoding="utf-8") for p in files]


def generated_document(size_mb: float) -> str:
    rnd = random.Random(42)
    words = ["alpha", "beta", "gamma", "delta", "service", "image", "port", "name", "value"]
    parts = []
    total = 0
    i = 0
    while total < size_mb * 1_000_000:
        item = (
            f"- id: {i}\n"
            f"  name: {rnd.choice(words)}-{i}\n"
            f"  score: {rnd.random() * 1000:.4f}\n"
            f"  active: {'true' if i % 3 else 'false'}\n"
            f"  tags: [{rnd.choice(words)}, {rnd.choice(words)}]\n"
            f"  description: \"{' '.join(rnd.choice(words) for _ in range(8))}\"\n"
            f"  meta:\n    created: 2024-01-{1 + i % 28:02d}\n    owner: null\n    count: {rnd.randint(-10**6, 10**6)}\n"
        )
        parts.append(item)
        total += len(item)
        i += 1
    return "".join(parts)


def small_scalars_document(entries: int) -> str:
    """Many small mappings of short scalars: the shape where per-node work shows."""
    return "".join(f"key_{i}: {{name: item {i}, tags: [a, b], value: {i}}}\n" for i in range(entries))


def jsonable(x):
    return json.loads(json.dumps(x, default=str))


def available(fn) -> bool:
    try:
        fn()
        return True
    except NotImplementedError:
        return False


def row(label: str, ours: float, peers: dict[str, float | None]) -> None:
    cells = [f"{label:<28} quillfern {ours * 1e3:9.2f} ms"]
    for name, t in peers.items():
        cells.append(f"{name} {t / ours:7.1f}x" if t else f"{name}     n/a")
    print("  ".join(cells))


def peers_can_load(text: str) -> bool:
    """Some corpus files use keys PyYAML cannot hash; compare on the rest."""
    try:
        if pyyaml:
            list(pyyaml.load_all(text, Loader=PY_LOADER))
        if RuamelYAML:
            list(RuamelYAML(typ="safe").load_all(text))
        return True
    except Exception:
        return False


def bench_set(label: str, texts: list[str], repeat: int, loads_only: bool = False) -> None:
    kept = [t for t in texts if peers_can_load(t)]
    if len(kept) != len(texts):
        print(f"\n({len(texts) - len(kept)} text(s) left out: a peer library cannot load them)")
    texts = kept
    print(f"\n== {label}: {len(texts)} text(s), {sum(len(t.encode()) for t in texts) / 1e6:.2f} MB")
    data = [quillfern.loads_all(t) for t in texts] if available(lambda: quillfern.loads_all("a: 1")) else None

    # loads
    if data is not None:
        ours = best_time(lambda: [quillfern.loads_all(t) for t in texts], repeat)
        peers = {}
        if pyyaml:
            peers["PyYAML-C"] = best_time(lambda: [list(pyyaml.load_all(t, Loader=PY_LOADER)) for t in texts], repeat)
        if RuamelYAML:
            ry = RuamelYAML(typ="safe")
            peers["ruamel-safe"] = best_time(lambda: [list(ry.load_all(t)) for t in texts], repeat)
        as_json = [json.dumps(jsonable(d)) for d in data]
        peers["json.loads"] = best_time(lambda: [json.loads(j) for j in as_json], repeat)
        orjson = optional_orjson()
        if orjson:
            peers["orjson"] = best_time(lambda: [orjson.loads(j) for j in as_json], repeat)
        row("loads_all", ours, peers)
    else:
        print("loads_all: not available yet")

    if loads_only:
        return

    # annotated results: the first document (loads) and every document
    ann = getattr(quillfern, "OPT_ANNOTATED", None)
    if ann is not None and available(lambda: quillfern.loads("a: 1", option=ann)):
        ours = best_time(lambda: [quillfern.loads(t, option=ann) for t in texts], repeat)
        peers = {"plain loads": best_time(lambda: [quillfern.loads(t) for t in texts], repeat)}
        if RuamelYAML:
            ry = RuamelYAML()  # the round-trip loader, whose results carry .lc
            peers["ruamel-rt"] = best_time(lambda: [next(iter(ry.load_all(t)), None) for t in texts],
                                           max(1, repeat // 2))
        row("loads OPT_ANNOTATED", ours, peers)
        print(f"{'':<28} annotated takes {ours / peers['plain loads']:.1f}x the time of plain loads")
        ours = best_time(lambda: [quillfern.loads_all(t, option=ann) for t in texts], repeat)
        peers = {"plain loads_all": best_time(lambda: [quillfern.loads_all(t) for t in texts], repeat)}
        if RuamelYAML:
            ry = RuamelYAML()
            peers["ruamel-rt"] = best_time(lambda: [list(ry.load_all(t)) for t in texts], max(1, repeat // 2))
        row("loads_all OPT_ANNOTATED", ours, peers)
        print(f"{'':<28} annotated takes {ours / peers['plain loads_all']:.1f}x the time of plain loads_all")
    else:
        print("annotated results: not available yet")

    # dumps / to_json
    if data is not None and available(lambda: quillfern.dumps({"a": 1})):
        plain = [jsonable(d) for d in data]
        ours = best_time(lambda: [quillfern.dumps(d) for d in plain], repeat)
        peers = {}
        if pyyaml:
            peers["PyYAML-C"] = best_time(lambda: [pyyaml.dump(d, Dumper=PY_DUMPER) for d in plain], repeat)
        if RuamelYAML:
            ry = RuamelYAML(typ="safe")

            def ruamel_dump():
                for d in plain:
                    buf = io.StringIO()
                    ry.dump(d, buf)
            peers["ruamel-safe"] = best_time(ruamel_dump, repeat)
        row("dumps", ours, peers)
        if available(lambda: quillfern.to_json({"a": 1})):
            ours = best_time(lambda: [quillfern.to_json(d) for d in plain], repeat)
            row("to_json", ours, {"json.dumps": best_time(lambda: [json.dumps(d) for d in plain], repeat)})
    else:
        print("dumps: not available yet")

    if data is not None and available(lambda: quillfern.dumps(1, represent=lambda o: None)):
        bench_represent([jsonable(d) for d in data], repeat)

    roundtrip_row(texts, repeat)


def roundtrip_row(texts: list[str], repeat: int) -> None:
    """Unchanged round trip (load, then dumps) against ruamel.yaml's."""
    rt = getattr(quillfern, "OPT_ROUND_TRIP", None)
    if rt is None or not available(lambda: quillfern.dumps(quillfern.loads_all("a: 1", option=rt)[0])):
        print("round trip: not available yet")
        return
    ours = best_time(lambda: [[quillfern.dumps(d) for d in quillfern.loads_all(t, option=rt)] for t in texts], repeat)
    peers = {}
    if RuamelYAML:
        ry = RuamelYAML()

        def ruamel_rt():
            for t in texts:
                buf = io.StringIO()
                ry.dump_all(list(ry.load_all(t)), buf)
        peers["ruamel-rt"] = best_time(ruamel_rt, max(1, repeat // 2))
    row("round trip", ours, peers)


def durable_write(path: str, data: bytes) -> None:
    """Python's idiom for replacing a file durably."""
    directory = os.path.dirname(path) or "."
    fd, tmp = tempfile.mkstemp(dir=directory)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise
    dfd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(dfd)
    finally:
        os.close(dfd)


def plain_write(path: str, data: bytes) -> None:
    with open(path, "wb") as f:
        f.write(data)


def bench_save(repeat: int, edit_size_mb: float = 5.0) -> None:
    """save() of an unchanged 1 MB document against a plain write and the
    durable idiom, and one edit plus save() of a larger document against
    ruamel.yaml; on tmpfs (/dev/shm) and on disk. Figures are our time over
    the other's (lower is better for us)."""
    rt = quillfern.OPT_ROUND_TRIP
    small = generated_document(1.0).encode()
    doc = quillfern.loads(small, option=rt)
    big_text = "name: bench\nitems:\n" + generated_document(edit_size_mb)
    places = [("tmpfs", "/dev/shm")] if os.path.isdir("/dev/shm") else []
    places.append(("disk", None))
    for label, base in places:
        with tempfile.TemporaryDirectory(prefix="quillfern-bench-", dir=base) as tmp:
            target = os.path.join(tmp, "doc.yaml")
            plain_write(target, small)
            ours = best_time(lambda: doc.save(target), repeat)
            plain = best_time(lambda: plain_write(target, small), repeat)
            durable = best_time(lambda: durable_write(target, small), repeat)
            print(f"\n== save on {label}: unchanged {len(small) / 1e6:.1f} MB document")
            print(f"save {ours * 1e3:8.2f} ms   plain write {plain * 1e3:8.2f} ms   durable idiom {durable * 1e3:8.2f} ms")
            print(f"save / plain write {ours / plain:5.2f}x   save / durable idiom {ours / durable:5.2f}x")

            big = quillfern.loads(big_text, option=rt)
            counter = iter(range(10**9))

            def edit_and_save():
                big["name"] = f"bench-{next(counter)}"
                big.save(target)
            ours = best_time(edit_and_save, repeat)
            line = f"one edit + save of {len(big_text) / 1e6:.1f} MB: {ours * 1e3:8.2f} ms"
            if RuamelYAML:
                ry = RuamelYAML()
                data = ry.load(big_text)

                def ruamel_edit_and_dump():
                    data["name"] = f"bench-{next(counter)}"
                    with open(target, "w", encoding="utf-8") as f:
                        ry.dump(data, f)
                theirs = best_time(ruamel_edit_and_dump, 1, min_time=0.0)
                line += f"   ruamel.yaml {theirs * 1e3:9.2f} ms   ({theirs / ours:.1f}x faster)"
            print(line)


class Node:
    """A user class written as a tagged mapping of its fields."""

    __slots__ = ("fields",)

    def __init__(self, fields):
        self.fields = fields


def wrap_nodes(x):
    if isinstance(x, dict):
        return Node({k: wrap_nodes(v) for k, v in x.items()})
    if isinstance(x, list):
        return [wrap_nodes(v) for v in x]
    return x


def represent_node(o):
    if type(o) is Node:
        return quillfern.QuillfernMapping(list(o.fields.items()), tag="!node")
    return None


def decline(o):
    return None


def bench_represent(plain: list, repeat: int) -> None:
    """dumps with a represent callback against the peers' own representers,
    and what a callback that declines everything costs over plain dumps."""
    wrapped = [wrap_nodes(d) for d in plain]
    ours = best_time(lambda: [quillfern.dumps(d, represent=represent_node) for d in wrapped], repeat)
    peers = {}
    if pyyaml:
        class NodeDumper(PY_DUMPER):
            pass

        NodeDumper.add_representer(Node, lambda r, o: r.represent_mapping("!node", o.fields))
        peers["PyYAML-C"] = best_time(lambda: [pyyaml.dump(d, Dumper=NodeDumper) for d in wrapped], repeat)
    if RuamelYAML:
        ry = RuamelYAML()
        ry.representer.add_representer(Node, lambda r, o: r.represent_mapping("!node", o.fields))

        def ruamel_dump():
            for d in wrapped:
                buf = io.StringIO()
                ry.dump(d, buf)
        peers["ruamel"] = best_time(ruamel_dump, max(1, repeat // 2))
    row("dumps represent (Node)", ours, peers)
    base = best_time(lambda: [quillfern.dumps(d) for d in plain], repeat)
    declined = best_time(lambda: [quillfern.dumps(d, represent=decline) for d in plain], repeat)
    print(f"{'dumps represent=None-callback':<28} quillfern {declined * 1e3:9.2f} ms  "
          f"{declined / base:.2f}x the time of plain dumps")


def child_peak(code: str, text_path: str) -> tuple[int, int]:
    """(resident KiB before the measured step, peak KiB after it) in a fresh
    interpreter; the code resets the peak with clear_refs before the step."""
    out = subprocess.run([sys.executable, "-c", code, text_path], capture_output=True, text=True, check=True)
    base, peak = map(int, out.stdout.split())
    return base, peak


_STATUS = (
    "import sys\n"
    "def status(field):\n"
    "    with open('/proc/self/status') as f:\n"
    "        for line in f:\n"
    "            if line.startswith(field + ':'):\n"
    "                return int(line.split()[1])\n"
    "def reset():\n"
    "    with open('/proc/self/clear_refs', 'w') as f:\n"
    "        f.write('5')\n"
)


def peak_dump_memory(text_path: str) -> None:
    # The data is loaded first; the peak is then reset, so each figure is
    # what the dump itself adds.
    load = "import quillfern\nwith open(sys.argv[1], 'rb') as f:\n    data = quillfern.loads(f.read())\n"
    ours = (_STATUS + load + "reset()\nbase = status('VmRSS')\n"
            "out = quillfern.dumps(data, represent=lambda o: None)\nprint(base, status('VmHWM'))\n")
    peer = (_STATUS + load + "import yaml\nreset()\nbase = status('VmRSS')\n"
            "out = yaml.dump(data, Dumper=yaml.CSafeDumper)\nprint(base, status('VmHWM'))\n")
    if not os.path.exists("/proc/self/clear_refs") or pyyaml is None:
        print("peak memory of dumps: not available on this system")
        return
    try:
        b1, p1 = child_peak(ours, text_path)
        b2, p2 = child_peak(peer, text_path)
    except subprocess.CalledProcessError as e:
        print("peak memory of dumps: not available:", e.stderr.strip().splitlines()[-1:])
        return
    print(f"peak memory of dumps(represent=None-callback): +{(p1 - b1) / 1024:.1f} MiB, "
          f"PyYAML-C dump: +{(p2 - b2) / 1024:.1f} MiB ({(p1 - b1) / max(1, p2 - b2):.2f}x)")


# What each peak-memory run loads, and how.
LOADERS = {
    "loads": "x = quillfern.loads(t)",
    "loads OPT_ANNOTATED": "x = quillfern.loads(t, option=quillfern.OPT_ANNOTATED)",
    "ruamel-rt load": "from ruamel.yaml import YAML\nx = YAML().load(t)",
}
# The round-trip run's loads (--roundtrip-mem).
ROUNDTRIP_LOADERS = {
    "loads OPT_ROUND_TRIP": "x = quillfern.loads(t, option=quillfern.OPT_ROUND_TRIP)",
    "ryml.parse_in_arena": "x = ryml.parse_in_arena(t)",
    "ruamel-rt load_all": "from ruamel.yaml import YAML\nx = list(YAML().load_all(t))",
    # t lists files: every text is read before the peak is reset.
    "loads_all of each file": "x = [quillfern.loads_all(f) for f in files]",
    "loads_all OPT_ROUND_TRIP of each file": (
        "x = [quillfern.loads_all(f, option=quillfern.OPT_ROUND_TRIP) for f in files]"
    ),
    "ruamel-rt load_all of each file": (
        "from ruamel.yaml import YAML\nx = [list(YAML().load_all(f)) for f in files]"
    ),
    "walk() of an alias bomb": (
        "x = quillfern.loads(t, option=quillfern.OPT_ROUND_TRIP)\n"
        "try:\n"
        "    list(x.walk())\n"
        "except quillfern.QuillfernError:\n"
        "    pass"
    ),
}


def peak_memory(text_path: str, how: str = "loads") -> float | None:
    """Prints and returns the peak memory (MiB) that one load adds."""
    # In a fresh interpreter: the text is read as bytes (one buffer of the
    # file's size, no decoding copy), then the peak resident size is reset to
    # the current one, so the peak after loading is what the load itself adds.
    # The peak is the kernel's per-process high-water mark (VmHWM); getrusage's
    # ru_maxrss would not do, as a child started from a large benchmark
    # process inherits the parent's maximum across exec. Imports come first,
    # so a peer's import is not counted.
    code = (
        "import quillfern, sys\n"
        + ("import ruamel.yaml\n" if how.startswith("ruamel") else "")
        + ("import ryml\n" if how.startswith("ryml") else "")
        + _STATUS
        + "with open(sys.argv[1], 'rb') as f:\n"
        "    t = f.read()\n"
        + ("files = [open(p, 'rb').read() for p in t.decode().splitlines()]\n" if how.endswith("of each file") else "")
        + "reset()\n"
        "base = status('VmRSS')\n"
        + {**LOADERS, **ROUNDTRIP_LOADERS}[how] + "\n"
        "print(base, status('VmHWM'))\n"
    )
    if not os.path.exists("/proc/self/clear_refs"):
        print("peak memory: not available on this system")
        return None
    try:
        out = subprocess.run([sys.executable, "-c", code, text_path], capture_output=True, text=True, check=True)
        base, peak = map(int, out.stdout.split())
        size = text_size(text_path) if how.endswith("of each file") else os.path.getsize(text_path)
        added = (peak - base) / 1024
        print(f"peak memory of {how} on {size / 1e6:.1f} MB: +{added:.1f} MiB over the text read")
        return added
    except subprocess.CalledProcessError as e:
        print("peak memory: not available:", e.stderr.strip().splitlines()[-1:])
        return None


def text_size(list_path: str) -> int:
    """Bytes of the files a file list names."""
    with open(list_path, encoding="utf-8") as f:
        return sum(os.path.getsize(p) for p in f.read().splitlines())


def roundtrip_document(entries: int = 100_000) -> str:
    """The round-trip memory document: `key_N: {name: item N, tags: [a, b],
    value: N}` written in block style, about 6 MB."""
    return "".join(
        f"key_{i}:\n  name: item {i}\n  tags:\n    - a\n    - b\n  value: {i}\n" for i in range(entries)
    )


def alias_bomb(levels: int = 9, fan: int = 10) -> str:
    """Each level lists the previous one `fan` times: expanding the last
    level would need fan**levels nodes, past the expansion budget."""
    lines = [f"l0: &l0 [{', '.join(['x'] * fan)}]"]
    for i in range(1, levels):
        lines.append(f"l{i}: &l{i} [{', '.join([f'*l{i - 1}'] * fan)}]")
    return "\n".join(lines) + "\n"


def ratio_rows(path: str, size: int, hows: list[str]) -> None:
    for how in hows:
        added = peak_memory(path, how)
        if added is not None:
            print(f"    {added * 2**20 / size:6.1f}x the text")


def roundtrip_memory(repeat: int) -> None:
    try:
        # Imported here only: its bindings leave objects behind at exit,
        # which a leak-checked import of this script would report.
        import ryml
    except Exception:  # pragma: no cover - optional peer
        ryml = None
    rt = quillfern.OPT_ROUND_TRIP
    data = roundtrip_document().encode()
    print(f"\n== round-trip documents: generated {len(data) / 1e6:.2f} MB, 100,000 block entries")
    with tempfile.TemporaryDirectory(prefix="quillfern-bench-") as tmp:
        path = os.path.join(tmp, "roundtrip.yaml")
        with open(path, "wb") as f:
            f.write(data)
        hows = ["loads", "loads OPT_ROUND_TRIP"] + (["ryml.parse_in_arena"] if ryml else [])
        ratio_rows(path, len(data), hows + (["ruamel-rt load_all"] if RuamelYAML else []))

        files = [str(p) for p in sorted(CORPUS.rglob("*")) if p.suffix in (".yaml", ".yml")]
        files = [p for p in files if peers_can_load(pathlib.Path(p).read_text(encoding="utf-8"))]
        listing = os.path.join(tmp, "corpus.txt")
        with open(listing, "w", encoding="utf-8") as f:
            f.write("\n".join(files))
        print(f"  corpus, {len(files)} files a peer can load too, every result kept:")
        hows = ["loads_all of each file", "loads_all OPT_ROUND_TRIP of each file"]
        ratio_rows(listing, text_size(listing), hows + (["ruamel-rt load_all of each file"] if RuamelYAML else []))

        bomb = os.path.join(tmp, "bomb.yaml")
        with open(bomb, "w", encoding="utf-8") as f:
            f.write(alias_bomb())
        peak_memory(bomb, "walk() of an alias bomb")

    # Times, ratios in this run.
    ours = best_time(lambda: quillfern.loads(data, option=rt), repeat)
    peers = {"loads": best_time(lambda: quillfern.loads(data), repeat)}
    if ryml:
        peers["ryml.parse_in_arena"] = best_time(lambda: ryml.parse_in_arena(data), repeat)
    cells = [f"  round-trip load {ours * 1e3:8.1f} ms"]
    cells += [f"{name} {t * 1e3:8.1f} ms (ours {ours / t:4.2f}x its time)" for name, t in peers.items()]
    print("  ".join(cells))
    doc = quillfern.loads(data, option=rt)
    doc["key_500"]["value"] = 7
    emit = best_time(doc.to_yaml, repeat)
    print(f"  to_yaml after one edit: {emit * 1e3:.1f} ms, {len(data) / emit / 1e6:.0f} MB/s")
    texts = [t for t in corpus_texts() if peers_can_load(t)]
    print(f"  corpus, {len(texts)} texts, unchanged:")
    roundtrip_row(texts, repeat)


def annotated_peak_memory(tmp: str) -> None:
    """Annotated loads against plain loads and ruamel's round-trip load, on a
    generated 1 MB document, each in a fresh interpreter."""
    path = os.path.join(tmp, "annotated.yaml")
    with open(path, "w", encoding="utf-8") as f:
        f.write(generated_document(1.0))
    figures = {how: peak_memory(path, how) for how in LOADERS if RuamelYAML or not how.startswith("ruamel")}
    ours = figures.get("loads OPT_ANNOTATED")
    if ours:
        for how in ("loads", "ruamel-rt load"):
            if figures.get(how):
                print(f"  annotated / {how}: {ours / figures[how]:.2f}x")


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--size-mb", type=float, default=20.0)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--save-only", action="store_true", help="run only the save section")
    ap.add_argument("--roundtrip-mem", action="store_true", help="round-trip memory and speed only")
    args = ap.parse_args()
    print(f"quillfern benchmark  {datetime.datetime.now():%Y-%m-%d %H:%M}  python {sys.version.split()[0]}")
    if args.roundtrip_mem:
        roundtrip_memory(max(5, args.repeat))
        return
    if args.save_only:
        bench_save(args.repeat)
        return
    bench_set("corpus", corpus_texts(), args.repeat)
    for entries in (1_000, 10_000, 100_000):
        bench_set(f"small scalars, {entries:,} entries", [small_scalars_document(entries)],
                  args.repeat, loads_only=True)
    big = generated_document(args.size_mb)
    bench_set(f"generated {args.size_mb:g} MB", [big], max(1, args.repeat - 1))
    # A file of this run's own: runs side by side must not overwrite it.
    with tempfile.TemporaryDirectory(prefix="quillfern-bench-") as tmp:
        path = os.path.join(tmp, "large.yaml")
        with open(path, "w", encoding="utf-8") as f:
            f.write(big)
        peak_memory(path)
        annotated_peak_memory(tmp)
        peak_dump_memory(path)
    bench_save(args.repeat)


if __name__ == "__main__":
    main()
