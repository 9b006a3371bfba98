"""Merge keys read the same on every road (plain, annotated, directive-loaded,
round-trip), and a merge never changes an object the program can reach: an
anchored value shared elsewhere in the result, or a tag handler's result."""

import pytest

import quillfern as q

ROADS = {
    "annotated": lambda t, **kw: q.loads(t, option=q.OPT_ANNOTATED, **kw),
    "directive": lambda t, **kw: q.loads(t, option=q.OPT_ENV_VAR, **kw),
    "annotated+directive": lambda t, **kw: q.loads(t, option=q.OPT_ANNOTATED | q.OPT_ENV_VAR, **kw),
    "loads_all annotated": lambda t, **kw: q.loads_all(t, option=q.OPT_ANNOTATED, **kw)[0],
    "round trip": lambda t, **kw: q.loads(t, option=q.OPT_ROUND_TRIP).to_dict(),
}

SHAPES = [
    # an anchored value merged, then later leftovers
    "s: &s !t [1, 2]\nm:\n  <<: *s\n  <<: 3\n",
    "s: &s [1, 2]\nm:\n  <<: *s\n  <<: 3\n",
    "s: &s !t {a: 1}\nm:\n  <<: *s\n  <<: 3\n",
    "s: &s {a: 1}\nm:\n  <<: *s\n  <<: [3, 4]\n",
    "s: &s !t x\nm:\n  <<: *s\n  <<: 3\n",
    "s: &s 1\nm:\n  <<: *s\n  <<: 3\n  <<: [4]\n",
    "s: &s [[1, 2], 3]\nm: {<<: *s, <<: *s}\n",
    "s: &s !t [1]\nm: {<<: [*s, *s], <<: *s, <<: 5}\n",
    "s: &s !t [1]\nm: {<<: *s, '<<': 0, <<: 5}\n",
    # one mapping's own leftovers
    "m: {<<: !t [1, 2], <<: 3}\n",
    "m: {<<: [!t [1], 2], <<: !t [3]}\n",
    "m: {<<: [1, 2], <<: [[3]], <<: 4}\n",
    "m: {<<: !t {a: 1}, b: 2}\n",
    "m: {<<: [!t {a: 1}, {c: 3}], <<: {a: 2}}\n",
    # the merged mapping carries its own leftovers under "<<"
    "s: &s {<<: 1, <<: 2}\nm: {<<: *s, <<: 3}\nn: {<<: 4, <<: *s}\n",
]


@pytest.mark.parametrize("road", ROADS)
@pytest.mark.parametrize("text", SHAPES)
def test_merge_shapes_read_as_the_plain_loader_reads_them(text, road):
    plain = q.loads(text)
    got = ROADS[road](text)
    assert got == plain
    for key in ("s", "m", "n"):
        if key in plain:
            assert got[key] == plain[key], key
    # No anchored value was changed by a merge that used it.
    if "s" in plain:
        assert got["s"] == q.loads(text.split("\n", 1)[0] + "\n")["s"]


HANDLED = [
    "m:\n  <<: !t x\n  <<: 3\n",
    "m:\n  <<: !t x\n  <<: [3, 4]\n",
    "m: {<<: [!t x, 5], <<: !t y}\n",
    "s: &s !t x\nm: {<<: *s, <<: *s, <<: 6}\n",
    "m: {<<: !t {a: 1}, <<: 2}\n",
]


@pytest.mark.parametrize("road", [r for r in ROADS if r != "round trip"])
@pytest.mark.parametrize("text", HANDLED)
@pytest.mark.parametrize("made", [list, dict], ids=["list", "dict"])
def test_a_tag_handlers_object_is_never_changed(text, road, made):
    def handler():
        mine = made(keep=1) if made is dict else made(["keep"])
        return mine, (lambda v: mine)

    mine, h = handler()
    plain = q.loads(text, tags={"!t": h})
    assert mine == (made(keep=1) if made is dict else ["keep"])
    mine, h = handler()
    got = ROADS[road](text, tags={"!t": h})
    assert mine == (made(keep=1) if made is dict else ["keep"])
    assert got == plain


def test_a_handler_list_is_one_leftover_item():
    mine = ["keep"]
    for road in [q.loads, *[ROADS[r] for r in ROADS if r != "round trip"]]:
        got = road("m:\n  <<: !t x\n  <<: 3\n", tags={"!t": lambda v: mine})
        assert got["m"]["<<"] == [["keep"], 3] and got["m"]["<<"][0] is mine
    assert mine == ["keep"]


def test_a_merge_tagged_scalar_reads_as_the_merge_key_text_under_yaml_1_1():
    text = "%YAML 1.1\n---\nk: !!merge x\nj: !!merge <<\n"
    assert q.loads(text) == {"k": "<<", "j": "<<"}
    for road in ROADS:
        got = ROADS[road](text)
        assert got == {"k": "<<", "j": "<<"}, road
    got = q.loads(text, option=q.OPT_ANNOTATED)
    assert type(got["k"]) is q.QuillfernAnnotatedStr and got["k"].__line__ == 3
