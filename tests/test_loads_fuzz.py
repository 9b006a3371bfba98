"""Random and mutated texts through loads: every input either loads or raises
one of the library's errors; nothing crashes or hangs; where the plain and the
annotated road both load a text, they give equal values."""

import os
import random
import re
import time

import quillfern as q
from quillfern import exceptions as qe

from helpers import corpus_files, same, suite_cases

BUDGET = float(os.environ.get("QUILLFERN_FUZZ_SECONDS", "4"))

PIECES = [
    "- ", "? ", ": ", ":", ",", "[", "]", "{", "}", "&a ", "*a", "&b ", "*b", "!t ", "!!str ", "!!int ",
    "!<x> ", "!e!x ", "%YAML 1.1\n", "%TAG !e! tag:e:\n", "---\n", "...\n", "---", "|", ">", "|+", ">-", "|2",
    "'", '"', "\\", "\\u00e9", "#c", " #c\n", "\n", "\n  ", "\n    ", "\t", " ", "  ", "<<: ", "<<", "a", "b",
    "key", "yes", "~", "null", "1", "-1", "0x1F", "0o7", "0b1", "1_0", "1:30", "1.5e3", ".inf", ".nan",
    "2001-12-14", "2001-12-14T21:59:43Z", "9" * 25, "é", "\u2028", "\ufeff", "\x00", "\r\n", "\r",
]

OPTIONS = [
    0, q.OPT_YAML_1_1, q.OPT_KESTIL_COMPAT, q.OPT_TIMESTAMPS, q.OPT_DUPLICATE_KEYS_ERROR,
    q.OPT_DUPLICATE_KEYS_WARN | q.OPT_YAML_1_1_WARN | q.OPT_YAML_1_1, q.OPT_REJECT_COMPLEX_KEYS,
    q.OPT_PASSTHROUGH_TAG,
]


def seeds():
    texts = [(d / "in.yaml").read_bytes() for d in suite_cases()]
    texts += [p.read_bytes()[:4000] for p in corpus_files()[:60]]
    return texts or [b"a: [1, {b: c}]\n- x\n"]


def mutate(rnd, data):
    b = bytearray(data)
    for _ in range(rnd.randint(1, 6)):
        op = rnd.random()
        pos = rnd.randint(0, len(b))
        if op < 0.3 and b:
            del b[pos:pos + rnd.randint(1, 8)]
        elif op < 0.6:
            b[pos:pos] = rnd.choice(PIECES).encode()
        elif op < 0.8 and b:
            b[min(pos, len(b) - 1)] = rnd.randrange(256)
        else:
            start = rnd.randint(0, len(b))
            b[pos:pos] = b[start:start + rnd.randint(1, 40)]
    return bytes(b)


def soup(rnd):
    return "".join(rnd.choice(PIECES) for _ in range(rnd.randint(1, 60))).encode()


def check(data, option):
    outcomes = []
    for road in (0, q.OPT_ANNOTATED):
        try:
            outcomes.append((q.loads(data, option=option | road),
                             q.loads_all(data, option=option | road, tag_handler=lambda n, v: v)))
        except qe.QuillfernError as e:
            outcomes.append(type(e))
        except ValueError as e:  # the interpreter's int digit limit
            assert "digits" in str(e), e
            return
    plain, annotated = outcomes
    failed = isinstance(plain, type) or isinstance(annotated, type)
    if failed and option & q.OPT_DUPLICATE_KEYS_ERROR:
        return  # source trees and value trees tell keys apart differently
    if failed:
        assert plain is annotated, data
    elif not TAGGED_MERGE_NAME.search(data):
        assert same(plain, annotated), data


# A custom-tagged key spelled "<<" beside a merge key: with a tag handler the
# value loader keeps the two apart until the handler makes both "<<", while
# source trees see one "<<" entry; the roads may then keep different values.
TAGGED_MERGE_NAME = re.compile(rb"![^\s]*[ \t]+(?:![^\s]*[ \t]+|&[^\s]*[ \t]+)*<<")


def test_fuzz_loads():
    rnd = random.Random(int(os.environ.get("QUILLFERN_FUZZ_SEED", "20261210")))
    pool = seeds()
    deadline = time.monotonic() + BUDGET
    runs = 0
    while time.monotonic() < deadline:
        data = soup(rnd) if rnd.random() < 0.3 else mutate(rnd, rnd.choice(pool))
        check(data, rnd.choice(OPTIONS))
        runs += 1
    assert runs > 100


def test_fuzz_encodings_and_random_bytes():
    rnd = random.Random(7)
    for _ in range(2000):
        data = bytes(rnd.randrange(256) for _ in range(rnd.randint(0, 24)))
        check(data, 0)
        text = soup(rnd).decode("utf-8", "replace")
        for enc in ("utf-16-le", "utf-16-be", "utf-32"):
            try:
                check(text.encode(enc, "surrogatepass"), 0)
            except UnicodeEncodeError:
                pass
