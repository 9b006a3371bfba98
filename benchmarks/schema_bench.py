#!/usr/bin/env python3
"""Schema validation against jsonschema and fastjsonschema (PyPI, used here
only as peers), with the Kubernetes schema of k8s_schema.py.

Data: the first document of each file of ../shared/corpus/k8s, and a ~5 MB
`kind: List` built from them. Every figure is a ratio measured in this run:
the peer's time divided by quillfern's.

  - validation pass: round-trip loads with the schema minus without, against
    each peer's validate on the loaded object;
  - plain road end to end: loads(t, schema=S) against loads(t) then validate;
  - peak memory of loads(t, schema=S) against loads(t, option=OPT_ROUND_TRIP)
    on the List.

    python benchmarks/schema_bench.py [--list-mb 5] [--repeat 3]
"""
from __future__ import annotations

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import quillfern

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from bench import _STATUS, best_time  # noqa: E402
from k8s_schema import SCHEMA  # noqa: E402

import fastjsonschema  # noqa: E402
import jsonschema  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
K8S = ROOT.parent / "shared" / "corpus" / "k8s"
RT = quillfern.OPT_ROUND_TRIP


def first_documents() -> list[str]:
    """The first document of each k8s file, as text, when it is a mapping."""
    texts = []
    for p in sorted(K8S.iterdir()):
        if p.suffix not in (".yaml", ".yml"):
            continue
        try:
            obj = quillfern.loads(p.read_bytes())
        except quillfern.QuillfernError:
            continue
        if isinstance(obj, dict):
            texts.append(quillfern.dumps(obj).decode())
    return texts


def list_document(texts: list[str], size_mb: float) -> str:
    """A valid List (every peer walks all of it) of the valid documents."""
    objs = [quillfern.loads(t) for t in texts if ours_valid(t)]
    items = []
    total = 0
    while total < size_mb * 1_000_000:
        for o in objs:
            items.append(o)
            total += len(quillfern.dumps(o))
    return quillfern.dumps({"apiVersion": "v1", "kind": "List", "items": items}).decode()


class Peers:
    def __init__(self):
        self.js = jsonschema.Draft202012Validator(SCHEMA)
        self.fast = fastjsonschema.compile(SCHEMA)

    def js_valid(self, obj) -> bool:
        try:
            self.js.validate(obj)
            return True
        except jsonschema.ValidationError:
            return False

    def fast_valid(self, obj) -> bool:
        try:
            self.fast(obj)
            return True
        except fastjsonschema.JsonSchemaValueException:
            return False


def ours_valid(text: str, option: int = 0) -> bool:
    try:
        quillfern.loads(text, schema=SCHEMA, option=option)
        return True
    except quillfern.QuillfernSchemaError:
        return False


def check_agreement(texts: list[str], peers: Peers) -> int:
    valid = 0
    for t in texts:
        obj = quillfern.loads(t)
        got = {ours_valid(t), ours_valid(t, RT), peers.js_valid(obj), peers.fast_valid(obj)}
        if len(got) != 1:
            raise SystemExit(f"validators disagree on:\n{t[:400]}")
        valid += got.pop()
    return valid


FAILURES = (quillfern.QuillfernSchemaError, jsonschema.ValidationError, fastjsonschema.JsonSchemaValueException)


def each(fn, inputs):
    """Calls fn on every input; a validation failure ends only that call."""
    def run():
        for x in inputs:
            try:
                fn(x)
            except FAILURES:
                pass
    return run


def bench(label: str, texts: list[str], peers: Peers, repeat: int) -> None:
    valid = check_agreement(texts, peers)
    size = sum(len(t.encode()) for t in texts) / 1e6
    print(f"\n== {label}: {len(texts)} document(s), {size:.2f} MB, {valid} valid (all four validators agree)")
    objs = [quillfern.loads(t) for t in texts]

    rt_plain = best_time(each(lambda t: quillfern.loads(t, option=RT), texts), repeat)
    rt_schema = best_time(each(lambda t: quillfern.loads(t, option=RT, schema=SCHEMA), texts), repeat)
    js = best_time(each(peers.js.validate, objs), repeat)
    fast = best_time(each(peers.fast, objs), repeat)
    ours = max(rt_schema - rt_plain, 1e-9)
    print(f"validation pass      quillfern {ours * 1e3:9.2f} ms   jsonschema {js / ours:7.1f}x   "
          f"fastjsonschema {fast / ours:7.1f}x")

    plain = best_time(each(quillfern.loads, texts), repeat)
    end_to_end = best_time(each(lambda t: quillfern.loads(t, schema=SCHEMA), texts), repeat)
    print(f"plain road end to end quillfern {end_to_end * 1e3:8.2f} ms   jsonschema {(plain + js) / end_to_end:7.1f}x   "
          f"fastjsonschema {(plain + fast) / end_to_end:7.1f}x   (loads alone {plain * 1e3:.2f} ms)")


PEAK = (
    "import quillfern, sys\n"
    "sys.path.insert(0, sys.argv[3])\n"
    "from k8s_schema import SCHEMA\n"
    + _STATUS
    + "with open(sys.argv[1], 'rb') as f:\n"
    "    t = f.read()\n"
    "kw = {'schema': SCHEMA} if sys.argv[2] == 'schema' else {'option': quillfern.OPT_ROUND_TRIP}\n"
    "reset()\n"
    "base = status('VmRSS')\n"
    "try:\n"
    "    x = quillfern.loads(t, **kw)\n"
    "except quillfern.QuillfernSchemaError:\n"
    "    pass\n"
    "print(status('VmHWM') - base)\n"
)


def peak_memory(text: str) -> None:
    if not os.path.exists("/proc/self/clear_refs"):
        print("peak memory: not available on this system")
        return
    here = str(pathlib.Path(__file__).resolve().parent)
    with tempfile.TemporaryDirectory(prefix="quillfern-schema-bench-") as tmp:
        path = os.path.join(tmp, "list.yaml")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        peaks = {}
        for mode in ("schema", "roundtrip"):
            out = subprocess.run([sys.executable, "-c", PEAK, path, mode, here], capture_output=True, text=True,
                                 check=True)
            peaks[mode] = int(out.stdout.strip())
    print(f"peak memory on the List: loads(t, schema=S) +{peaks['schema'] / 1024:.1f} MiB, "
          f"loads(t, option=OPT_ROUND_TRIP) +{peaks['roundtrip'] / 1024:.1f} MiB, "
          f"ratio {peaks['schema'] / peaks['roundtrip']:.2f}")


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--list-mb", type=float, default=5.0)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    peers = Peers()
    docs = first_documents()
    print(f"schema benchmark  python {sys.version.split()[0]}  jsonschema Draft202012Validator, fastjsonschema")
    bench("k8s corpus, first documents", docs, peers, args.repeat)
    big = list_document(docs, args.list_mb)
    bench(f"kind: List of {args.list_mb:g} MB", [big], peers, max(1, args.repeat - 1))
    peak_memory(big)


if __name__ == "__main__":
    main()
