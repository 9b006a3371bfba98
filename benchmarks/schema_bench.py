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
    on the List;
  - the pattern-heavy case (PATTERN_SCHEMA of k8s_schema.py, 20 pattern and
    patternProperties rules over every node of the corpus documents): the
    validation pass against the peers and, with --baseline, against another
    build of quillfern (say today's main, installed in another venv) timed in
    a child process of that venv's interpreter.

    python benchmarks/schema_bench.py [--list-mb 5] [--repeat 3] [--baseline PYTHON]
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
from k8s_schema import PATTERN_SCHEMA, SCHEMA  # noqa: E402

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


def string_keyed(obj) -> bool:
    """Whether every mapping key in obj is a str, as the peers' patternProperties need."""
    if isinstance(obj, dict):
        return all(isinstance(k, str) and string_keyed(v) for k, v in obj.items())
    if isinstance(obj, list):
        return all(string_keyed(x) for x in obj)
    return True


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
    def __init__(self, schema=SCHEMA):
        self.schema = schema
        self.js = jsonschema.Draft202012Validator(schema)
        self.fast = fastjsonschema.compile(schema)

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


def ours_valid(text: str, option: int = 0, schema=SCHEMA) -> bool:
    try:
        quillfern.loads(text, schema=schema, option=option)
        return True
    except quillfern.QuillfernSchemaError:
        return False


def check_agreement(texts: list[str], peers: Peers) -> int:
    valid = 0
    for t in texts:
        obj = quillfern.loads(t)
        got = {ours_valid(t, 0, peers.schema), ours_valid(t, RT, peers.schema), peers.js_valid(obj),
               peers.fast_valid(obj)}
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


def validation_pass(texts: list[str], schema, repeat: int) -> float:
    """Round-trip loads with the schema minus without, in seconds."""
    rt_plain = best_time(each(lambda t: quillfern.loads(t, option=RT), texts), repeat)
    rt_schema = best_time(each(lambda t: quillfern.loads(t, option=RT, schema=schema), texts), repeat)
    return max(rt_schema - rt_plain, 1e-9)


def bench(label: str, texts: list[str], peers: Peers, repeat: int, end_to_end: bool = True,
          baseline: str | None = None) -> None:
    valid = check_agreement(texts, peers)
    size = sum(len(t.encode()) for t in texts) / 1e6
    print(f"\n== {label}: {len(texts)} document(s), {size:.2f} MB, {valid} valid (all four validators agree)")
    objs = [quillfern.loads(t) for t in texts]

    ours = validation_pass(texts, peers.schema, repeat)
    js = best_time(each(peers.js.validate, objs), repeat)
    fast = best_time(each(peers.fast, objs), repeat)
    line = (f"validation pass      quillfern {ours * 1e3:9.2f} ms   jsonschema {js / ours:7.1f}x   "
            f"fastjsonschema {fast / ours:7.1f}x")
    if baseline:
        theirs = baseline_pattern_pass(baseline, repeat)
        line += f"   baseline build {theirs / ours:5.2f}x ({theirs * 1e3:.2f} ms)"
    print(line)
    if not end_to_end:
        return

    plain = best_time(each(quillfern.loads, texts), repeat)
    both = best_time(each(lambda t: quillfern.loads(t, schema=peers.schema), texts), repeat)
    print(f"plain road end to end quillfern {both * 1e3:8.2f} ms   jsonschema {(plain + js) / both:7.1f}x   "
          f"fastjsonschema {(plain + fast) / both:7.1f}x   (loads alone {plain * 1e3:.2f} ms)")


def baseline_pattern_pass(python: str, repeat: int) -> float:
    """The pattern-heavy validation pass of the quillfern that `python`
    imports, timed by this script in a child process."""
    out = subprocess.run([python, __file__, "--pattern-pass", "--repeat", str(repeat)], capture_output=True,
                         text=True, check=True)
    return float(out.stdout.split()[-1])


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
    ap.add_argument("--baseline", metavar="PYTHON",
                    help="an interpreter with another quillfern build, to time the pattern-heavy case against")
    ap.add_argument("--pattern-pass", action="store_true", help=argparse.SUPPRESS)  # the baseline's child
    args = ap.parse_args()
    docs = first_documents()
    keyed = [t for t in docs if string_keyed(quillfern.loads(t))]
    if args.pattern_pass:
        print(validation_pass(keyed, PATTERN_SCHEMA, args.repeat))
        return
    peers = Peers()
    print(f"schema benchmark  python {sys.version.split()[0]}  jsonschema Draft202012Validator, fastjsonschema")
    bench("k8s corpus, first documents", docs, peers, args.repeat)
    big = list_document(docs, args.list_mb)
    bench(f"kind: List of {args.list_mb:g} MB", [big], peers, max(1, args.repeat - 1))
    peak_memory(big)
    bench("pattern-heavy schema over the k8s corpus, first documents with string keys", keyed, Peers(PATTERN_SCHEMA),
          args.repeat,
          end_to_end=False, baseline=args.baseline)


if __name__ == "__main__":
    main()
