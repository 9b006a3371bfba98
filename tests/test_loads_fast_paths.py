"""The plain road's conversion shortcuts (ASCII texts copied without decoding,
keys from the cache) give the same objects as the round-trip road's general
conversion: over the test suite, the corpus, fuzz-mutated texts and texts
with a non-ASCII character at every offset of the word-wise ASCII check."""

import math
import os
import random
import sys

import pytest

import quillfern as q
from quillfern import exceptions as qe

from helpers import corpus_files, suite_cases
from test_loads_fuzz import mutate

RT = q.OPT_ROUND_TRIP
SANITIZED = os.environ.get("QUILLFERN_SANITIZED") == "1"


def same(a, b):
    """Equal values of the same types all the way down (NaN equal to NaN)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float) and math.isnan(a):
        return math.isnan(b)
    if isinstance(a, dict):
        return len(a) == len(b) and all(
            type(ka) is type(kb) and ka == kb and same(va, vb)
            for (ka, va), (kb, vb) in zip(a.items(), b.items())
        )
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def both_roads(text):
    """(plain, general) for a text both roads load, else None."""
    try:
        plain = q.loads_all(text)
    except (qe.QuillfernError, ValueError):
        return None
    try:
        general = [d.to_dict() for d in q.loads_all(text, option=RT)]
    except (qe.QuillfernError, ValueError):
        return None
    return plain, general


def seeds():
    return [(d / "in.yaml").read_bytes() for d in suite_cases()] + [p.read_bytes() for p in corpus_files()]


def test_suite_and_corpus_agree_with_the_general_conversion():
    compared = 0
    for text in seeds():
        pair = both_roads(text)
        if pair is None:
            continue
        assert same(*pair), text[:300]
        compared += 1
    # Every corpus file loads on both roads, and most suite cases do.
    assert compared >= len(corpus_files()) + 250


def test_mutated_texts_agree_with_the_general_conversion():
    rnd = random.Random(1912)
    pool = seeds()
    compared = 0
    for _ in range(300 if SANITIZED else 3000):
        text = mutate(rnd, rnd.choice(pool)[:3000])
        pair = both_roads(text)
        if pair is None:
            continue
        assert same(*pair), text[:300]
        compared += 1
    assert compared > (50 if SANITIZED else 500)


def texts_around_words():
    # A non-ASCII character (2, 3 and 4 bytes) at each offset of texts of 0 to
    # 40 bytes: every position in and after whole 8-byte words, as keys and
    # as values; and the same texts all ASCII.
    for n in range(41):
        yield "k" * n
        for ch in ("é", "€", "😀"):
            for i in range(n + 1):
                yield "k" * i + ch + "k" * (n - i)


@pytest.mark.parametrize("quote", ["", "'", '"'])
def test_texts_around_word_boundaries(quote):
    texts = list(dict.fromkeys(texts_around_words()))
    doc = "".join(f"{quote}{t}{quote}: {quote}{t}{quote}\n" for t in texts if t)
    loaded = q.loads(doc)
    assert list(loaded.items()) == [(t, t) for t in texts if t]
    for k, v in loaded.items():
        assert k.isascii() == v.isascii() == all(ord(c) < 128 for c in k)
        assert k.encode("utf-8").decode("utf-8") == k
    assert same([loaded], [d.to_dict() for d in q.loads_all(doc, option=RT)])
    # In sequences, one-character texts and empty quoted texts too.
    items = q.loads("- " + "\n- ".join(f'"{t}"' for t in texts) + "\n")
    assert items == texts


def test_field_names_stay_one_object_among_more_keys_than_are_kept():
    # Records under thousands of distinct keys push the repeated field names
    # out of the keys kept between calls and back in; every occurrence of a
    # field name is still one str, short or long, ASCII or not, in one
    # document and across the documents of one call. Also when an earlier
    # call left them kept, so the first use finds them there (without
    # interning, a kept key pushed out mid-call was made again).
    fields = ["name", "tags", "v" * 64, "w" * 65, "schlüssel"]
    record = "{" + ", ".join(f"{f}: {i}" for i, f in enumerate(fields)) + "}"
    q.loads(record)
    doc = "".join(f"key_{i}: {record}\n" for i in range(60_000))
    docs = q.loads_all(doc + "---\n" + doc)
    first = list(next(iter(docs[0].values())))
    assert first == fields
    for loaded in docs:
        assert len(loaded) == 60_000
        for rec in loaded.values():
            assert all(a is b for a, b in zip(rec, first)), rec
    assert same([q.loads(doc)], [q.loads(doc, option=RT).to_dict()])


def directive_texts():
    # A %YAML directive after pages of leading comments and blank lines, texts
    # of a few sizes around 4 and 64 KiB; also with the directive commented
    # out, with a '%' only in a value, and with no '%' at all.
    for version in ("1.1", "1.2"):
        for size in (4000, 4094, 4095, 4096, 4097, 4098, 9000, 65535, 65536, 65537, 70000):
            head = f"%YAML {version}\n---\nv: yes\n"
            comments = ""
            while len(comments) + len(head) + 8 < size:
                comments += "# c\n" if len(comments) % 3 else "\n"
            text = comments + head
            text += "#" * max(0, size - len(text) - 1) + "\n"
            yield text
            yield text.replace("%YAML", "# %YAML", 1)
            yield text.replace(f"%YAML {version}\n---\n", "") + f"w: 10%\n---\nv: yes\n"
            yield text.replace(f"%YAML {version}\n", "")
    # Short texts by their first byte: a directive, blanks, breaks, a comment,
    # a byte-order mark, or content (known to have no directive unread).
    for lead in ("", " \n", "\t\n", "\n", "\r\n", "# c\n", "\ufeff"):
        yield lead + "%YAML 1.1\n---\nv: yes\n"
    yield "v: yes\n---\nv: no\n"
    yield "---\nv: yes\n"
    yield ""


def test_version_directive_found_as_the_sniff_finds_it():
    for text in directive_texts():
        want = q.yaml_version(text)
        docs = q.loads_all(text)
        if not docs:
            assert q.loads(text) is None
            continue
        yes = True if want == "1.1" else "yes"
        assert docs[0]["v"] == q.loads(text)["v"] == yes, (len(text), want)
        assert same(docs, [d.to_dict() for d in q.loads_all(text, option=RT)])


class Text(str):
    pass


@pytest.mark.parametrize(
    "text", ["a: 1\n", "", "- x\n- 'y'\n", "k: é\n", "%YAML 1.1\n---\nv: yes\n", "a: [1\n", "a: 1\n\t- b\n"]
)
def test_str_input_reads_as_its_utf8_bytes(text):
    # An ASCII str is read where it lies; other strs (and subclasses) through
    # their UTF-8 form: the same results and the same errors as the bytes.
    def outcome(data):
        try:
            return q.loads_all(data)
        except qe.QuillfernError as e:
            return type(e), str(e)

    want = outcome(text.encode())
    assert outcome(text) == outcome(Text(text)) == want


@pytest.mark.parametrize("n", [2, 3, 7, 8, 9, 15, 16, 17, 23, 24, 25, 40, 1000])
def test_ascii_strs_are_whole_strs(n):
    # Made without the generic constructor: size, hash, flags, interning and
    # every str operation must match a str the interpreter made itself.
    word = "".join(chr(33 + (i * 7) % 90) for i in range(n)).replace("#", "a").replace(":", "b")
    key = f"fresh_key_{n}_{os.getpid()}"
    loaded = q.loads(f"{key}: '{word.replace(chr(39), chr(39) * 2)}'\n")
    (k, v), = loaded.items()
    made = "".join(list(word))  # a str made at run time, not a constant
    for got, want in ((v, made), (k, key)):
        assert type(got) is str and got == want and len(got) == len(want)
        assert hash(got) == hash(want)
        assert sys.getsizeof(got) == sys.getsizeof(want)
        assert got.isascii() and got.isprintable()
        assert {want: 1}[got] == 1 and {got: 1}[want] == 1
        assert got.encode("ascii").decode("ascii") == want
        assert (got + "!")[:-1] == want and got[::-1][::-1] == want
        held = sys.getrefcount(got)
        extra = got  # noqa: F841 - counted like any other reference
        assert sys.getrefcount(got) == held + 1


def test_loaded_strs_are_traced_by_tracemalloc():
    import tracemalloc

    tracemalloc.start()
    try:
        d = q.loads("key: some value\nitems: [ab, cdefghijklmnopqrstuvwxyz]\n")
        for v in (d["key"], *d["items"]):
            assert tracemalloc.get_object_traceback(v) is not None, v
    finally:
        tracemalloc.stop()
