"""Expansion budgets of the output side and of the round-trip readers: shared
host containers written again and again, and aliases followed by document
reads, end in a clear error instead of exhausting memory, while sharing
within the budgets keeps working."""

import copy
import dataclasses
import os

import pytest

import quillfern as q
from quillfern.exceptions import QuillfernEncodeError, QuillfernParseError

SANITIZED = os.environ.get("QUILLFERN_SANITIZED") == "1"
SHARED_MESSAGE = "object expands to too many nodes (shared references)"
RT = q.OPT_ROUND_TRIP


@dataclasses.dataclass
class Pair:
    left: object
    right: object


def nest(levels, make, width=9):
    x = ["lol"] * width
    for _ in range(levels):
        x = make(x, width)
    return x


SHAPES = {
    "list": lambda x, w: [x] * w,
    "tuple": lambda x, w: (x,) * w,
    "dict": lambda x, w: {str(i): x for i in range(w)},
    "dataclass": lambda x, w: Pair(x, x),
    "tag": lambda x, w: [q.QuillfernTag("!t", x)] * w,
    # default is called once per object; each call returns the same list
    "default result": lambda x, w: [Opaque(x) for _ in range(w)],
}


class Opaque:
    def __init__(self, inner):
        self.inner = inner


def unwrap(o):
    return o.inner


@pytest.mark.parametrize("fn", [q.dumps, q.to_json], ids=["dumps", "to_json"])
@pytest.mark.parametrize("shape", SHAPES)
def test_shared_containers_past_the_budget_raise(fn, shape):
    if shape == "tag" and fn is q.to_json:
        pytest.skip("tags are YAML only")
    if shape == "default result":
        data = SHAPES[shape](nest(9, SHAPES["list"]), 9)
    else:
        data = nest(40 if shape == "dataclass" else 10, SHAPES[shape])  # two-way sharing needs more levels
    with pytest.raises(QuillfernEncodeError) as info:
        fn(data, default=unwrap)
    assert str(info.value) == SHARED_MESSAGE


@pytest.mark.parametrize("fn", [q.dumps, q.to_json], ids=["dumps", "to_json"])
def test_sharing_within_the_budget_writes_every_copy(fn):
    row = list(range(50))
    record = {"row": row, "pair": (row, row)}
    data = {"rows": [row] * 200, "records": [record] * 100, "again": record}
    assert fn(data) == fn(copy.deepcopy(data))


def test_self_reference_is_still_a_depth_error():
    loop = []
    loop.append(loop)
    with pytest.raises(QuillfernEncodeError, match="too deeply nested"):
        q.to_json(loop)


@pytest.mark.skipif(SANITIZED, reason="ten million nodes are slow under the sanitizers")
def test_budget_boundary_charges_only_repeats():
    # The first conversion of x is free; each of the other copies costs its
    # 999,999 entries: ten repeats fit in 10,000,000, eleven do not.
    x = [0] * 999_999
    assert q.to_json([x] * 11).count(b"0") == 11 * 999_999
    with pytest.raises(QuillfernEncodeError, match=r"shared references"):
        q.to_json([x] * 12)


def bomb(levels):
    lines = ["a0: &a0 [" + ", ".join(["lol"] * 9) + "]"]
    for i in range(1, levels):
        lines.append(f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 9) + "]")
    return "\n".join(lines) + "\n"


def test_alias_bomb_documents_are_refused_on_every_writer():
    doc = q.loads(bomb(10), option=RT)
    assert doc.to_yaml() == bomb(10).encode()  # aliases stay names
    for write in (lambda: q.to_json(doc), lambda: q.dumps(doc.to_dict()), lambda: q.to_json(doc.to_dict())):
        with pytest.raises(QuillfernEncodeError, match="shared references"):
            write()


def test_alias_bomb_view_reads_fail_at_the_alias_before_copying():
    doc = q.loads(bomb(10), option=RT)
    for read in (lambda: doc["a9"].to_dict(), lambda: doc["a9"].walk(), lambda: q.dumps(doc["a9"])):
        with pytest.raises(QuillfernParseError, match="exceeded the budget of 1000000 nodes") as info:
            read()
        # the first alias of a9 names a8, which expands to 9**8 + ... nodes
        assert (info.value.line, info.value.column) == (10, 10)


def test_aliases_of_one_anchor_share_one_value_in_every_read():
    doc = q.loads("a: &a [1, {k: v}]\nb: [*a, *a]\nc: *a\n", option=RT)
    walked = dict(doc.walk())
    assert walked[("b", 0)] == [1, {"k": "v"}]
    assert walked[("b", 0)] is walked[("b", 1)] is walked[("c",)]
    b = doc["b"].to_dict()
    assert b[0] is b[1]
    plain = doc.to_dict()
    assert plain["b"][0] is plain["b"][1] is plain["c"] is plain["a"]


def test_aliased_keys_share_their_hashable_form_within_the_budget():
    doc = q.loads("a: &a [1, 2]\n? *a\n: x\n? [*a, 3]\n: y\n", option=RT)
    keys = doc.keys()
    assert keys == ["a", [1, 2], [[1, 2], 3]]
    assert doc.to_dict()[((1, 2), 3)] == "y"


def test_aliased_keys_are_charged_for_each_use():
    # Hashing a key walks all of it, so many keys holding one large alias
    # cost the size of that alias each time.
    anchor = "a: &a [" + ", ".join(["0"] * 2000) + "]\n"
    keys = "".join(f"? [*a, {i}]\n: {i}\n" for i in range(600))
    doc = q.loads(anchor + keys, option=RT)
    for read in (doc.keys, lambda: len(doc), doc.to_dict):
        with pytest.raises(QuillfernParseError, match="exceeded the budget of 1000000 nodes"):
            read()
    small = q.loads(anchor + keys[: keys.index("? [*a, 400]")], option=RT)
    assert len(small.keys()) == 401


def test_schema_objects_have_the_same_budget():
    schema = {"allOf": nest(10, SHAPES["list"])}
    with pytest.raises(QuillfernEncodeError) as info:
        q.loads("a: 1", schema=schema)
    assert str(info.value) == SHARED_MESSAGE
    assert q.loads("a: 1", schema={"allOf": [{"type": "object"}] * 100}) == {"a": 1}
