"""Hazards of loading: very deep trees from aliases, huge integers, nested
anchors, host equality of keys, host code running during a conversion."""

import gc
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import quillfern as q
from quillfern import exceptions as qe

from helpers import run_in_small_thread


def chained_aliases(links, levels=995):
    """A sequence of anchors, each nesting the previous one `levels` deeper:
    the last item's value tree is about links * levels deep."""
    lines = ["- &a0 " + "[" * levels + "end" + "]" * levels]
    for i in range(1, links + 1):
        lines.append(f"- &a{i} " + "[" * levels + f"*a{i - 1}" + "]" * levels)
    return "\n".join(lines) + "\n"


def depth_of(v):
    d = 0
    while isinstance(v, list):
        assert len(v) == 1
        v = v[0]
        d += 1
    assert v == "end"
    return d


def test_deep_alias_chain_loads_on_a_small_thread_stack():
    text = chained_aliases(90)

    def load():
        docs = q.loads_all(text)
        return depth_of(q.loads(text)[-1]), len(docs[0])

    depth, items = run_in_small_thread(load)
    assert depth == 91 * 995
    assert items == 91


def test_deep_alias_chain_as_key_and_under_tags():
    text = chained_aliases(20)
    tagged = text.replace("- &a20 ", "- &a20 !deep ")
    got = run_in_small_thread(lambda: q.loads(tagged, tag_handler=lambda n, v: v)[-1])
    assert depth_of(got) == 21 * 995
    # the same chain used as a mapping key becomes nested tuples
    as_key = text + "- {? *a20 : v}\n"
    got = run_in_small_thread(lambda: q.loads(as_key)[-1])
    (key,) = got
    d = 0
    while isinstance(key, tuple):
        key = key[0]
        d += 1
    assert key == "end" and d == 21 * 995


def test_hex_bigint_is_linear():
    digits = "f" * 1_000_000
    start = time.perf_counter()
    v = q.loads("0x" + digits)
    assert time.perf_counter() - start < 2.0
    assert v.bit_length() == 4_000_000
    assert v == int(digits, 16)
    assert q.loads("0b" + "1" * 200_000, option=q.OPT_YAML_1_1) == 2**200_000 - 1


def test_decimal_bigint_beyond_digit_limit_raises_not_str():
    limit = sys.get_int_max_str_digits()
    if limit == 0:
        pytest.skip("the interpreter has no digit limit")
    text = "1" * (limit + 1)
    with pytest.raises(ValueError) as info:
        q.loads(text)
    assert not isinstance(info.value, qe.QuillfernError)
    old = limit
    sys.set_int_max_str_digits(0)
    try:
        assert q.loads(text) == int(text)
    finally:
        sys.set_int_max_str_digits(old)


def test_host_equal_keys_are_duplicates():
    opt = q.OPT_DUPLICATE_KEYS_ERROR
    for text in (
        "9223372036854775808: a\n+9223372036854775808: b\n",
        "9223372036854775808.0: a\n9223372036854775808: b\n",
        "1e20: a\n100000000000000000000: b\n",
        "0x10: a\n16: b\n",
        "true: a\n1.0: b\n",
    ):
        with pytest.raises(qe.QuillfernDuplicateKeyError):
            q.loads(text, option=opt)
        # without a policy the host dict keeps one entry, the last value
        assert list(q.loads(text).values()) == ["b"]
    with pytest.raises(qe.QuillfernDuplicateKeyError):
        q.loads("9223372036854775808: a\n9_223_372_036_854_775_808: b\n", option=opt | q.OPT_YAML_1_1)


def test_tagged_key_fingerprint_is_injective():
    got = q.loads('!t "a:s:1:b": 1\n!t:s:7:a b: 2\n', option=q.OPT_DUPLICATE_KEYS_ERROR | q.OPT_PASSTHROUGH_TAG)
    assert [k.tag for k in got] == ["!t", "!t:s:7:a"]


NESTED_LEVELS = 40


def nested_anchors(anchored, alias=False):
    """40 sequences nested around 200,000 items, each level anchored (or
    not); with `alias`, the outermost level is used once more by an alias."""
    opens = "".join((f"&a{i} [" if anchored else "[") for i in range(NESTED_LEVELS))
    inner = opens + ", ".join(["1"] * 200_000) + "]" * NESTED_LEVELS
    return f"[{inner}, *a0]" if alias else inner


def peak_growth_of_loading(text):
    """Peak memory added by loads(text), measured in a fresh interpreter."""
    # The peak of this process's own memory (ru_maxrss would also count the
    # parent's size at fork).
    code = textwrap.dedent(
        """
        import sys
        import quillfern as q
        def peak_kib():
            with open("/proc/self/status") as f:
                return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
        text = sys.stdin.read()
        q.loads("[1]")
        before = peak_kib()
        q.loads(text)
        print(peak_kib() - before)
        """
    )
    out = subprocess.run([sys.executable, "-c", code], input=text, capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return int(out.stdout)


def test_nested_anchors_do_not_multiply_memory():
    v = q.loads(nested_anchors(True))
    for _ in range(NESTED_LEVELS - 1):
        (v,) = v
    assert len(v) == 200_000
    # A copy per anchored level would add 39 copies of the items; an alias
    # costs one copy of what it names.
    plain = peak_growth_of_loading(nested_anchors(False))
    assert peak_growth_of_loading(nested_anchors(True)) < 1.5 * plain
    assert peak_growth_of_loading(nested_anchors(True, alias=True)) < 3 * plain


def test_no_empty_list_slots_visible_to_host_code():
    """A tag callable may find the lists under construction through the
    collector; they must hold no empty slot."""
    seen = []

    def handler(name, value):
        for o in gc.get_objects():
            if isinstance(o, list) and o and o[0] == "marker":
                seen.append(repr(o))  # would crash on an empty slot
        return value

    doc = "[marker, !t 1, [marker, !t 2, x], y]"
    assert q.loads(doc, tag_handler=handler) == ["marker", "1", ["marker", "2", "x"], "y"]
    assert seen


def test_tag_callable_may_run_the_collector_and_reenter():
    def handler(name, value):
        gc.collect()
        return q.loads("[1, {a: 2}]") + [value]

    got = q.loads("a: !t [!t x]\nb: [1, 2]\n", tag_handler=handler)
    assert got == {"a": [1, {"a": 2}, [[1, {"a": 2}, "x"]]], "b": [1, 2]}


def test_collector_state_is_restored():
    assert gc.isenabled()
    q.loads("[1, [2, {a: 3}]]")
    assert gc.isenabled()
    gc.disable()
    try:
        q.loads("[1, [2, {a: 3}]]")
        assert not gc.isenabled()
    finally:
        gc.enable()


def test_other_threads_run_while_decoding():
    text = "- {a: 1, b: [x, y], c: 'text'}\n" * 200_000
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.0005)

    t = threading.Thread(target=ticker)
    t.start()
    try:
        time.sleep(0.01)
        begin = time.perf_counter()
        q.loads(text)  # one native call: ticks inside it need the lock released
        end = time.perf_counter()
    finally:
        done.set()
        t.join()
    assert sum(begin < x < end for x in ticks) > 3


def test_threads_decoding_at_once_get_their_own_results():
    # Decoding runs without the lock, so threads decode side by side; each
    # keeps work buffers of its own between calls. Large texts (which grow
    # them), failures (which leave values in them) and small texts in turn.
    texts = [
        "a: 1\nb: [x, y]\n",
        "- {k: v, n: [1, 2, {z: ~}]}\n" * 5000,
        "a: [1, 2\n",
        "?\n- a\n- b\n: {c: d}\n",
        "x: &a {p: [1, 2]}\ny: *a\nz:\n  <<: *a\n  q: 3\n",
        # texts past the inline size and collections of many sizes, whose
        # storage comes from per-thread caches of freed blocks
        "".join(f"- {{text: {'long text ' * (i % 7)}{i}, items: {list(range(i % 40))}}}\n" for i in range(3000)),
    ]

    def expected(t):
        try:
            return q.loads_all(t)
        except qe.QuillfernParseError as e:
            return str(e)

    want = [expected(t) for t in texts]
    failures = []

    def worker(offset):
        for i in range(60):
            k = (i + offset) % len(texts)
            if expected(texts[k]) != want[k]:
                failures.append(k)

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
