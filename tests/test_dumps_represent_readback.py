"""What the represent road writes reads back: every style a descriptor may
ask for, in every place, resolver mode and width; the corpus through a
callback that declines everything or wraps every mapping; random data
through random callbacks. Also the walk's safety: nesting limits, small
stacks, callbacks that change what is being walked, references."""

import gc
import os
import random
import sys

import pytest

import quillfern as q

from dump_cases import AWKWARD, MODES, same
from helpers import corpus_files, run_in_small_thread

S, M, Q = q.QuillfernScalar, q.QuillfernMapping, q.QuillfernSequence
STYLES = ["auto", "plain", "single", "double", "literal", "folded"]
REFUSED = "scalar cannot represent this value without changing it on reload"
MARK = object()


def placed(place, s):
    """(object holding MARK, extra callback entries, the value expected back)."""
    if place == "root":
        return MARK, s
    if place == "value":
        return {"k": MARK}, {"k": s}
    if place == "item":
        return ["a", MARK], ["a", s]
    if place == "flow":
        return {"k": [MARK, "z"]}, {"k": [s, "z"]}
    return {MARK: 1, "z": 2}, {s: 1, "z": 2}


PLACES = ["root", "value", "item", "flow", "key"]


def plain_road_writes_plain(s, option):
    return q.dumps([s], option=option) == b"- " + s.encode() + b"\n"


@pytest.mark.parametrize("width", [None, 3])
@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("style", STYLES)
def test_every_accepted_style_reads_back(style, mode, width):
    option = MODES[mode]
    for s in AWKWARD:
        descriptor = S(s, style=style)
        for place in PLACES:
            obj, expected = placed(place, s)

            def cb(o):
                if o is MARK:
                    return descriptor
                if place == "flow" and type(o) is list:
                    return Q(o, flow=True)
                return None

            try:
                text = q.dumps(obj, represent=cb, option=option, width=width)
            except ValueError as e:
                assert style not in ("auto", "double") and REFUSED in str(e), (s, place)
                continue
            if style == "plain" and not plain_road_writes_plain(s, option):
                continue
            back = q.loads(text, option=option)
            assert same(back, expected), (s, place, text)


CORPUS_FILES = corpus_files()
LAYOUTS = {
    "block": (0, None),
    "flow": (q.OPT_FLOW_STYLE, None),
    "indent4": (q.OPT_INDENT_4, None),
    "indentless": (q.OPT_INDENTLESS_SEQUENCES, None),
    "sorted": (q.OPT_SORT_KEYS, None),
    "width40": (0, 40),
}


def corpus_documents():
    for path in CORPUS_FILES:
        yield from q.loads_all(path.read_text(encoding="utf-8"))


def wrap_mappings(o):
    if type(o) is dict and o:
        return M(list(o.items()), comment_before="before\n\nstill before", comment_after="after")
    return None


@pytest.mark.skipif(not CORPUS_FILES, reason="corpus not found")
@pytest.mark.parametrize("layout", [*LAYOUTS, "wrapped"])
def test_corpus_reads_back(layout):
    option, width = LAYOUTS.get(layout, (0, None))
    cb = wrap_mappings if layout == "wrapped" else (lambda o: None)
    checked = 0
    for d in corpus_documents():
        text = q.dumps(d, represent=cb, option=option, width=width)
        back = q.loads(text)
        assert same(back, d, ordered=layout != "sorted"), text[:400]
        checked += 1
    assert checked == 490  # every document of the corpus


def test_texts_of_every_length_in_one_document():
    # Texts around the inline limit, the block sizes of a call and the
    # length above which a text is not pooled, many in one document, as keys,
    # values, items and descriptor texts: each comes back as itself.
    rnd = random.Random(7)
    sizes = [12, 13, 100, 1000, 1023, 1024, 1025, 2047, 4096, 4097, 70000]
    texts = ["".join(rnd.choice("abc xyz") for _ in range(n)).strip() + str(i) for i, n in enumerate(sizes * 3)]
    d = {t: [t[::-1], {"k": t.upper()}] for t in texts}
    d["descriptors"] = [MARK] * 3

    def cb(o):
        if o is MARK:
            return S(texts[-1] + "é", style="double")
        return None

    for width in (None, 40):
        back = q.loads(q.dumps(d, represent=cb, width=width))
        assert back == {**d, "descriptors": [texts[-1] + "é"] * 3}


def test_wrapped_corpus_keeps_the_comments():
    d = next(d for d in corpus_documents() if isinstance(d, dict) and d)
    text = q.dumps(d, represent=wrap_mappings)
    assert text.startswith(b"# before\n#\n# still before\n") and text.endswith(b"# after\n")


# ---- random data, random callbacks ----

DOCUMENTED = (REFUSED, "comment_after is only supported", "a mapping key cannot carry",
              "a comment inside a mapping key")


def random_data(rng, depth=0):
    r = rng.random()
    if depth > 3 or r < 0.5:
        return rng.choice([None, True, 0, -7, 2**70, 1.5, float("inf"), *rng.sample(AWKWARD, 3)])
    if r < 0.75:
        return [random_data(rng, depth + 1) for _ in range(rng.randrange(4))]
    return {rng.choice(AWKWARD + [1, None, 2.5]): random_data(rng, depth + 1) for _ in range(rng.randrange(4))}


def random_callback(rng):
    def comments():
        kw = {}
        if rng.random() < 0.2:
            kw["comment"] = rng.choice(["c", "", "a # b", "\tx"])
        if rng.random() < 0.2:
            kw["comment_before"] = rng.choice(["b", "x\ny", "", "\n"])
        if rng.random() < 0.1:
            kw["comment_after"] = rng.choice(["a", "p\nq\n"])
        return kw

    def cb(o):
        r = rng.random()
        if r < 0.4:
            return None
        if type(o) is str:
            if r < 0.6:
                return S(o, tag="!!str", **comments())
            style = rng.choice(STYLES)
            if style == "plain" and not plain_road_writes_plain(o, 0):
                style = "double"
            return S(o, style=style, **comments())
        if type(o) is int and r < 0.6:
            return S(str(o), tag=rng.choice(["!!int", "tag:yaml.org,2002:int"]), **comments())
        if type(o) is list:
            return Q(o, flow=rng.choice([None, True, False]), **comments())
        if type(o) is dict:
            return M(list(o.items()), flow=rng.choice([None, True, False]), **comments())
        return None

    return cb


def test_random_data_through_random_callbacks():
    rng = random.Random(20261210)
    rounds = 60 if os.environ.get("QUILLFERN_SANITIZED") else 400
    for _ in range(rounds):
        data = random_data(rng)
        option = rng.choice([0, q.OPT_SORT_KEYS, q.OPT_FLOW_STYLE, q.OPT_SINGLE_QUOTES | q.OPT_INDENT_4,
                             q.OPT_NULL_AS_TILDE | q.OPT_INDENTLESS_SEQUENCES])
        width = rng.choice([None, 3, 20])
        try:
            text = q.dumps(data, represent=random_callback(rng), option=option, width=width)
        except ValueError as e:
            assert any(m in str(e) for m in DOCUMENTED), (data, e)
            continue
        assert same(q.loads(text), data, ordered=not option & q.OPT_SORT_KEYS), (data, text)


# ---- safety ----

def nested(depth):
    """A list whose innermost list stands at `depth` (the root is depth 0)."""
    root = cur = []
    for _ in range(depth):
        cur.append([])
        cur = cur[0]
    return root


def test_nesting_limit():
    assert q.dumps(nested(999), represent=lambda o: None).count(b"-") == 999
    with pytest.raises(q.QuillfernUnserializableError, match="too deeply nested"):
        q.dumps(nested(1000), represent=lambda o: None)
    chain = [1]
    for _ in range(600):
        chain = q.QuillfernTag("!t", [chain])
    with pytest.raises(q.QuillfernUnserializableError, match="too deeply nested"):
        q.dumps(chain, represent=lambda o: None)


def test_a_small_thread_stack_gives_bytes_or_the_nesting_error():
    def work():
        try:
            return q.dumps(nested(990), represent=lambda o: None)
        except q.QuillfernUnserializableError as e:
            return str(e)

    out = run_in_small_thread(work)
    assert out.startswith(b"-") if isinstance(out, bytes) else "too deeply nested" in out


def test_callbacks_that_change_what_is_walked():
    # Each collection is read once, before any of its members is represented:
    # later changes by a callback do not reach the output, and the members
    # already read stay alive.
    inner = [1, 2, 3]
    tail = [4, 5]
    later = {"x": 1}
    pairs = [("p", [6]), ("q", 2)]
    data = {"a": inner, "b": later, "c": tail, "d": MARK}

    def cb(o):
        if o == 1:
            inner.clear()
            later["y"] = 2  # not read yet: seen
            data.clear()
        elif o == 4:
            tail[:] = [object()] * 100
        elif o is MARK:
            return M(pairs)
        elif o == "p":
            pairs.clear()
            gc.collect()
        return None

    text = q.dumps(data, represent=cb)
    assert q.loads(text) == {"a": [1, 2, 3], "b": {"x": 1, "y": 2}, "c": [4, 5], "d": {"p": [6], "q": 2}}

    items = [[1], 2]
    d = Q(items)

    def cb2(o):
        if o is MARK:
            return d
        if o == 1:
            items[:] = []
            gc.collect()
        return None

    assert q.dumps([MARK], represent=cb2) == b"-\n  -\n    - 1\n  - 2\n"


def test_no_reference_leaks():
    class Thing:
        pass

    thing = Thing()
    shared = [thing]
    data = {"a": shared, "b": shared, "c": (shared, "x"), "t": q.QuillfernTag("!t", [1])}
    descriptor = M([("k", shared)], comment="c")

    def cb(o):
        if o is thing:
            return S("thing")
        if o == "x":
            return descriptor
        return None

    def default(o):
        return [o.__class__.__name__]

    watched = [thing, shared, data, descriptor, cb, default, data["t"]]
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(3):
        q.dumps(data, represent=cb, default=default)
    failing = [
        (ZeroDivisionError, lambda: q.dumps(data, represent=lambda o: 1 / 0 if o is thing else None)),
        (ValueError, lambda: q.dumps(data, represent=lambda o: S("x", comment_after="a") if o is thing else None)),
        (ValueError, lambda: q.dumps([data, object()], represent=cb, default=lambda o: o)),
        (TypeError, lambda: q.dumps(data, represent=lambda o: 5 if o is thing else None)),
        (q.QuillfernUnserializableError, lambda: q.dumps(nested(1000) + [data], represent=cb)),
    ]
    for exc, call in failing:
        for _ in range(2):
            with pytest.raises(exc):
                call()
    assert [sys.getrefcount(o) for o in watched] == before
