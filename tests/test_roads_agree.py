"""One reading of a text whichever option loads it: what plain loads refuses
as malformed YAML the round-trip, annotated and directive roads refuse with
the same error, in the main text and in included and secrets files; alias
keys count as the keys they name for the duplicate-key policies."""

import logging

import pytest

import quillfern as q
from quillfern import exceptions as qe

from helpers import SUITE, suite_cases

DIRECTIVES = q.OPT_INCLUDES | q.OPT_SECRETS | q.OPT_ENV_VAR

# Every road of loads besides the plain one.
ROADS = {
    "round trip": q.OPT_ROUND_TRIP,
    "annotated": q.OPT_ANNOTATED,
    "includes": q.OPT_INCLUDES,
    "secrets": q.OPT_SECRETS,
    "env var": q.OPT_ENV_VAR,
    "all directives": DIRECTIVES,
    "annotated directives": DIRECTIVES | q.OPT_ANNOTATED,
    "round trip directives": DIRECTIVES | q.OPT_ROUND_TRIP,
}
ALL_ROADS = {
    "loads_all round trip": q.OPT_ROUND_TRIP,
    "loads_all annotated": q.OPT_ANNOTATED,
}

ERROR_CASES = [c for c in suite_cases() if (c / "error").exists()]


def refusal(fn):
    """(class, message, line, column) of what fn raises, None when it loads."""
    try:
        fn()
    except qe.QuillfernError as e:
        return type(e), str(e), e.line, e.column
    return None


def load_on(road, text, conf):
    if road in ALL_ROADS:
        return q.loads_all(text, option=ALL_ROADS[road])
    return q.loads(text, option=ROADS[road], include_dir=str(conf))


@pytest.fixture(scope="module")
def conf(tmp_path_factory):
    return tmp_path_factory.mktemp("conf")


@pytest.mark.skipif(not ERROR_CASES, reason="the YAML test suite is not available")
@pytest.mark.parametrize("road", [*ROADS, *ALL_ROADS])
@pytest.mark.parametrize("case", ERROR_CASES, ids=lambda c: str(c.relative_to(SUITE)))
def test_suite_error_cases_are_refused_alike_on_every_road(case, road, conf):
    data = (case / "in.yaml").read_bytes()
    plain = refusal(lambda: q.loads_all(data) if road in ALL_ROADS else q.loads(data))
    assert plain is not None
    assert refusal(lambda: load_on(road, data, conf)) == plain


# Malformed texts a lenient composer used to accept.
MALFORMED = {
    "trailing mapping": "- name: a\n- name: b\nextra: 1\n",
    "trailing scalar": "word1  # c\nword2\n",
    "missing dash": "- - a\n  - b\n  c: d\n",
    "directive without document": "%YAML 1.2\na: 1\n",
    "directive at the end": "a: 1\n...\n%YAML 1.2\n",
    "invalid %YAML": "%YAML 1.2.3\n--- a\n",
    "duplicate %YAML": "%YAML 1.2\n%YAML 1.2\n--- a\n",
    "duplicate %TAG": "%TAG !e! tag:a,2000:\n%TAG !e! tag:b,2000:\n--- !e!x 1\n",
    "undefined handle": "a: !e!x 1\n",
    "handle of the previous document": "%TAG !e! tag:a,2000:\n--- !e!x 1\n--- !e!x 2\n",
    "error in a later document": "a: 1\n---\nb: 1\nc\n",
}


@pytest.mark.parametrize("road", [*ROADS, *ALL_ROADS])
@pytest.mark.parametrize("text", MALFORMED.values(), ids=MALFORMED.keys())
def test_malformed_main_text_is_refused_alike(text, road, conf):
    plain = refusal(lambda: q.loads_all(text) if road in ALL_ROADS else q.loads(text))
    assert plain is not None and plain[0] is qe.QuillfernParseError
    assert refusal(lambda: load_on(road, text, conf)) == plain


def test_valid_neighbours_still_load_on_every_road(conf):
    texts = ["%YAML 1.2 # c\n%TAG !e! tag:a,2000:\n--- !e!x 1\n...\n%YAML 1.1\n--- 2\n",
             "%FOO bar\n--- a\n", "- - a\n  - b\n- c: d\n", "a\n...\nb\n", "--- a\n--- b\n"]
    for text in texts:
        for road in [*ROADS, *ALL_ROADS]:
            load_on(road, text, conf)


@pytest.mark.parametrize("option", [q.OPT_INCLUDES, q.OPT_INCLUDES | q.OPT_ANNOTATED,
                                    q.OPT_INCLUDES | q.OPT_ROUND_TRIP, DIRECTIVES | q.OPT_ROUND_TRIP],
                         ids=["includes", "annotated", "round trip", "round trip, all directives"])
@pytest.mark.parametrize("text", MALFORMED.values(), ids=MALFORMED.keys())
def test_malformed_included_file_is_refused_naming_it(text, option, tmp_path):
    (tmp_path / "outer.yaml").write_text("a: 1\nb: !include bad.yaml\n")
    _, message, line, column = refusal(lambda: q.loads(text))
    for main in ("x: !include bad.yaml\n", "x: !include outer.yaml\n"):
        def failure(content):
            (tmp_path / "bad.yaml").write_text(content)
            with pytest.raises(qe.QuillfernParseError) as info:
                q.loads(main, option=option, include_dir=str(tmp_path))
            return info.value
        # A scan error in the same file shows how errors there are named.
        other = failure("k: [1,\n")
        e = failure(text)
        assert (str(e), e.line, e.column) == (message, line, column)
        assert (e.file, e.include_stack) == (other.file, other.include_stack)
        assert e.file.endswith("/bad.yaml")
    assert e.include_stack != []


@pytest.mark.parametrize("option", [q.OPT_SECRETS, DIRECTIVES | q.OPT_ANNOTATED, DIRECTIVES | q.OPT_ROUND_TRIP],
                         ids=["secrets", "annotated", "round trip"])
@pytest.mark.parametrize("text", MALFORMED.values(), ids=MALFORMED.keys())
def test_malformed_secrets_file_is_refused_naming_it(text, option, tmp_path):
    secrets = tmp_path / "secrets.yaml"
    secrets.write_text("k: [1,\n")
    with pytest.raises(qe.QuillfernError) as other:
        q.loads("x: !secret k\n", option=option, include_dir=str(tmp_path))
    secrets.write_text(text)
    with pytest.raises(qe.QuillfernError) as info:
        q.loads("x: !secret k\n", option=option, include_dir=str(tmp_path))
    e, o = info.value, other.value
    plain_message = refusal(lambda: q.loads(text))[1].split(" at line ")[0]
    assert type(e) is type(o)
    assert str(e).startswith("invalid secrets.yaml: " + plain_message)
    assert (e.file, e.include_stack) == (o.file, o.include_stack)
    assert e.file.endswith("/secrets.yaml")


def test_alias_bomb_round_trip_still_loads_and_readers_share():
    lines = ["a0: &a0 [" + ", ".join(["x"] * 9) + "]"]
    lines += [f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 9) + "]" for i in range(1, 10)]
    text = "\n".join(lines) + "\n"
    doc = q.loads(text, option=q.OPT_ROUND_TRIP)
    assert doc.to_yaml() == text.encode()
    # Readers share what an anchor names instead of expanding it: every
    # reader gives the same small value.
    for got in (doc["a9"].to_dict(), doc.to_dict()["a9"]):
        assert len(got) == 9 and all(item is got[0] for item in got)
        assert got[0][0] is got[0][1]
    # Used as keys under a duplicate-key policy, the aliases are compared
    # without being expanded.
    keys = text + "m: {*a9 : 1, *a8 : 2, ? [*a9] : 3, *a9 : 4}\n"
    with pytest.raises(qe.QuillfernDuplicateKeyError) as info:
        q.loads(keys, option=q.OPT_ROUND_TRIP | q.OPT_DUPLICATE_KEYS_ERROR)
    assert (info.value.line, info.value.column) == (11, 36)


# ---- duplicate keys: an alias key is the key it names ----

DUPLICATES = {
    "alias first": "a: &k K\nm: {*k : 1, K: 2}\n",
    "alias last": "a: &k K\nm: {K: 1, *k : 2}\n",
    "anchored key": "m:\n  &k K : 1\n  *k : 2\n",
    "redefined anchor": "a: &k J\nb: &k K\nm: {*k : 1, K: 2}\n",
    # shown differently on the two kinds of road: only the position is compared
    "collection": "a: &k [1, 2]\nm: {? [1, 2] : x, *k : y}\n",
    "inside a key": "a: &k K\nm:\n  [*k]: 1\n  [K]: 2\n",
    "number": "a: &k 0x10\nm: {*k : 1, 16: 2}\n",
}
SAME_TEXT = {"alias first", "alias last", "anchored key", "redefined anchor"}
DISTINCT = {
    "earlier definition": "a: &k K\nb: &k J\nm: {*k : 1, K: 2}\n",
    "alias inside its own anchor": "a: &k K\nm: {&k [*k] : 1, K: 2}\n",
}
DUP_ROADS = {
    "plain": 0, "round trip": q.OPT_ROUND_TRIP, "annotated": q.OPT_ANNOTATED,
    "env var": q.OPT_ENV_VAR, "all directives": DIRECTIVES,
}


def loads_both(text, option):
    if option & q.OPT_ROUND_TRIP:
        return q.loads(text, option=option).to_dict()
    return q.loads(text, option=option)


@pytest.mark.parametrize("road", DUP_ROADS)
@pytest.mark.parametrize("name", DUPLICATES)
def test_alias_key_duplicates_are_errors_on_every_road(name, road):
    text = DUPLICATES[name]
    plain = refusal(lambda: q.loads(text, option=q.OPT_DUPLICATE_KEYS_ERROR))
    assert plain is not None and plain[0] is qe.QuillfernDuplicateKeyError
    got = refusal(lambda: loads_both(text, DUP_ROADS[road] | q.OPT_DUPLICATE_KEYS_ERROR))
    if name in SAME_TEXT:
        assert got == plain
    else:
        assert (got[0], got[2], got[3]) == (plain[0], plain[2], plain[3])
    for how in ("round trip", "annotated"):
        all_got = refusal(lambda: q.loads_all(text, option=ALL_ROADS["loads_all " + how] |
                                              q.OPT_DUPLICATE_KEYS_ERROR))
        assert all_got[0] is qe.QuillfernDuplicateKeyError and all_got[2:] == plain[2:]


@pytest.mark.parametrize("road", DUP_ROADS)
@pytest.mark.parametrize("name", DUPLICATES)
def test_alias_key_duplicates_warn_on_every_road(name, road, caplog):
    text = DUPLICATES[name]

    def warnings(option):
        caplog.clear()
        with caplog.at_level(logging.WARNING, logger="quillfern"):
            value = loads_both(text, option | q.OPT_DUPLICATE_KEYS_WARN)
        return value, [r.getMessage() for r in caplog.records]

    want_value, want = warnings(0)
    value, got = warnings(DUP_ROADS[road])
    assert len(want) == 1 and want[0].startswith("duplicate mapping key")
    assert value == want_value
    if name not in SAME_TEXT:
        got, want = [w.split("' at ")[1] for w in got], [w.split("' at ")[1] for w in want]
    assert got == want


@pytest.mark.parametrize("road", DUP_ROADS)
@pytest.mark.parametrize("text", DISTINCT.values(), ids=DISTINCT.keys())
def test_alias_keys_naming_other_keys_are_not_duplicates(text, road, caplog):
    want = loads_both(text, q.OPT_DUPLICATE_KEYS_ERROR)
    with caplog.at_level(logging.WARNING, logger="quillfern"):
        assert loads_both(text, DUP_ROADS[road] | q.OPT_DUPLICATE_KEYS_ERROR) == want
        loads_both(text, DUP_ROADS[road] | q.OPT_DUPLICATE_KEYS_WARN)
    assert caplog.records == []


@pytest.mark.parametrize("option", [q.OPT_INCLUDES, q.OPT_INCLUDES | q.OPT_ROUND_TRIP, q.OPT_INCLUDES | q.OPT_ANNOTATED])
def test_alias_key_names_the_anchor_of_its_own_file(option, tmp_path):
    # An anchor of the same name inside an included file is not the one the
    # main text's alias names: *k is K, a duplicate, not J.
    (tmp_path / "f.yaml").write_text("x: &k J\n")
    text = "a: &k K\nb: !include f.yaml\nm: {*k : 1, K: 2}\n"
    with pytest.raises(qe.QuillfernDuplicateKeyError, match="duplicate mapping key: K") as info:
        q.loads(text, option=option | q.OPT_DUPLICATE_KEYS_ERROR, include_dir=str(tmp_path))
    assert (info.value.line, info.value.column) == (3, 13)
