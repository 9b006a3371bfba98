"""Shared by the Python tests: where the YAML test suite and the corpus live,
how their cases are found, and a runner for code that must fit a small
thread stack."""

import math
import pathlib
import threading

SHARED = pathlib.Path(__file__).resolve().parent.parent.parent / "shared"
SUITE = SHARED / "yaml-test-suite"
CORPUS = SHARED / "corpus"

SMALL_STACK = 256 * 1024


def suite_cases():
    """Every test-suite case folder holding an in.yaml, sub-cases included,
    in name order; error cases too (they have an `error` file)."""
    if not SUITE.is_dir():
        return []
    cases = []
    for d in sorted(SUITE.iterdir()):
        if not d.is_dir():
            continue
        if (d / "in.yaml").exists():
            cases.append(d)
        else:
            cases.extend(sorted(s for s in d.iterdir() if s.is_dir() and (s / "in.yaml").exists()))
    return cases


def corpus_files():
    """The .yaml and .yml files of the corpus, in path order."""
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.rglob("*") if p.is_file() and p.suffix in (".yaml", ".yml"))


def run_in_small_thread(fn, stack_size=SMALL_STACK):
    """Runs fn() in a thread with a small stack and returns its result; an
    exception it raised is raised again here."""
    out = {}

    def target():
        try:
            out["value"] = fn()
        except BaseException as e:  # noqa: BLE001 - reported to the caller
            out["error"] = e

    old = threading.stack_size(stack_size)
    try:
        t = threading.Thread(target=target)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    if "error" in out:
        raise out["error"]
    return out["value"]


def same(a, b):
    """Equality of loaded values, NaN equal to itself, QuillfernTag by its tag
    and value, dicts entry by entry in order."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if type(a).__name__ == "QuillfernTag" and type(b).__name__ == "QuillfernTag":
        return a.tag == b.tag and same(a.value, b.value)
    if isinstance(a, dict) and isinstance(b, dict):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a.items(), b.items()))
    if isinstance(a, (list, tuple)) and isinstance(b, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b
