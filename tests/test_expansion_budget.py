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


def test_alias_bomb_view_reads_share_objects_and_writers_refuse_them():
    doc = q.loads(bomb(10), option=RT)
    # Reads starting below the anchors convert each anchor once, as a read
    # of the whole document does: nothing is copied.
    a9 = doc["a9"].to_dict()
    assert a9[0] is a9[8] and a9[0][0] is a9[8][8]
    node_value = doc.node["a9"].value
    assert len(node_value) == 9 and node_value[0] is node_value[8] and node_value[0][0] is node_value[8][8]
    walked = doc["a9"].walk()
    assert len(walked) == 9 and walked[0][1] is walked[8][1]
    with pytest.raises(QuillfernEncodeError, match="shared references"):
        q.dumps(doc["a9"])


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


def chain(anchors):
    return "a0: &a0 [x]\n" + "".join(f"a{i}: &a{i} [*a{i - 1}]\n" for i in range(1, anchors))


READERS = {
    "loads": lambda t, n: q.loads(t)[f"a{n - 1}"],
    "annotated": lambda t, n: q.loads(t, option=q.OPT_ANNOTATED)[f"a{n - 1}"],
    "directive": lambda t, n: q.loads(t, option=q.OPT_ENV_VAR)[f"a{n - 1}"],
    "to_dict": lambda t, n: q.loads(t, option=RT).to_dict()[f"a{n - 1}"],
    "loads_all to_dict": lambda t, n: q.loads_all(t, option=RT)[0].to_dict()[f"a{n - 1}"],
    "walk": lambda t, n: dict(q.loads(t, option=RT).walk())[(f"a{n - 1}", 0)],
    "view to_dict": lambda t, n: q.loads(t, option=RT)[f"a{n - 1}"].to_dict(),
    "view walk": lambda t, n: q.loads(t, option=RT)[f"a{n - 1}"].walk()[0][1],
    "view item": lambda t, n: q.loads(t, option=RT)[f"a{n - 1}"][0].to_dict(),
    "node value": lambda t, n: q.loads(t, option=RT).node[f"a{n - 1}"].value,
    "item node value": lambda t, n: q.loads(t, option=RT).node[f"a{n - 1}"][0].value,
}


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("anchors", range(99, 104))
def test_an_alias_chain_gives_one_value_on_every_reader(anchors, reader):
    text = chain(anchors)
    got = READERS[reader](text, anchors)
    if reader in ("walk", "view walk", "view item", "item node value"):
        got = [got]  # the read starts one level down
    expected = q.loads(text)[f"a{anchors - 1}"]
    assert got == expected
    for _ in range(anchors - 1):
        got = got[0]
    assert got == ["x"]


@pytest.mark.parametrize("reader", [r for r in READERS if r not in ("loads", "annotated", "directive")])
def test_an_alias_bomb_gives_shared_objects_on_every_reader(reader):
    # A round-trip document of a bomb loads; its readers share the anchored
    # objects, whichever member reads it (writers refuse them, above).
    got = READERS[reader](bomb(10), 10)
    if reader in ("walk", "view walk", "view item", "item node value"):
        got = [got] * 9
    assert len(got) == 9 and all(item is got[0] for item in got)
    assert len(got[0]) == 9 and all(item is got[0][0] for item in got[0])


def test_aliased_keys_keep_the_copy_budget_on_every_reader():
    # A key is hashed whole, so an alias in it is copied: the budget holds.
    text = bomb(8) + "k: {? *a7 : 1}\n"
    doc = q.loads(text, option=RT)
    for read in (doc.to_dict, lambda: doc["k"].to_dict(), lambda: doc.node["k"].value):
        with pytest.raises(QuillfernParseError, match="exceeded the budget of 1000000 nodes"):
            read()
