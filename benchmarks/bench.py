#!/usr/bin/env python3
"""Compare quillfern with PyYAML (C loader/dumper), ruamel.yaml and json.

Every figure is a ratio measured in the same run: the peer's time divided by
quillfern's (so 20.0x means quillfern took a twentieth of the time).

    python benchmarks/bench.py                # corpus + generated document
    python benchmarks/bench.py --size-mb 5    # smaller generated document
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

    # unchanged round trip
    rt = getattr(quillfern, "OPT_ROUND_TRIP", None)
    if rt is not None and available(lambda: quillfern.dumps(quillfern.loads_all("a: 1", option=rt)[0])):
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
    else:
        print("round trip: not available yet")


def peak_memory(text_path: str) -> None:
    # In a fresh interpreter: the text is read as bytes (one buffer of the
    # file's size, no decoding copy), then the peak resident size is reset to
    # the current one, so the peak after loads is what loads itself adds. The
    # peak is the kernel's per-process high-water mark (VmHWM); getrusage's
    # ru_maxrss would not do, as a child started from a large benchmark
    # process inherits the parent's maximum across exec.
    code = (
        "import quillfern, sys\n"
        "def status(field):\n"
        "    with open('/proc/self/status') as f:\n"
        "        for line in f:\n"
        "            if line.startswith(field + ':'):\n"
        "                return int(line.split()[1])\n"
        "with open(sys.argv[1], 'rb') as f:\n"
        "    t = f.read()\n"
        "with open('/proc/self/clear_refs', 'w') as f:\n"
        "    f.write('5')\n"
        "base = status('VmRSS')\n"
        "x = quillfern.loads(t)\n"
        "print(base, status('VmHWM'))\n"
    )
    if not os.path.exists("/proc/self/clear_refs"):
        print("peak memory: not available on this system")
        return
    try:
        out = subprocess.run([sys.executable, "-c", code, text_path], capture_output=True, text=True, check=True)
        base, peak = map(int, out.stdout.split())
        size = os.path.getsize(text_path)
        print(f"peak memory of loads on {size / 1e6:.1f} MB: +{(peak - base) / 1024:.1f} MiB over the text read")
    except subprocess.CalledProcessError as e:
        print("peak memory: not available:", e.stderr.strip().splitlines()[-1:])


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--size-mb", type=float, default=20.0)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    print(f"quillfern benchmark  {datetime.datetime.now():%Y-%m-%d %H:%M}  python {sys.version.split()[0]}")
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


if __name__ == "__main__":
    main()
