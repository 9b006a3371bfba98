"""Round-trip identity over the YAML test suite and the corpus: an unchanged
document renders back byte for byte, through dumps and to_yaml, whole or split
per document by loads_all; its plain values equal what plain loading gives."""

import math

import pytest

import quillfern as q

from helpers import CORPUS, SUITE, corpus_files, suite_cases

RT = q.OPT_ROUND_TRIP

INPUTS = [
    pytest.param((d / "in.yaml").read_bytes(), id="suite/" + str(d.relative_to(SUITE)))
    for d in suite_cases()
    if not (d / "error").exists()
]
INPUTS += [pytest.param(p.read_bytes(), id="corpus/" + str(p.relative_to(CORPUS))) for p in corpus_files()]


def same(a, b):
    """Equality that also compares types and key order, and lets NaN equal NaN."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def test_inputs_found():
    assert len(INPUTS) == 769


@pytest.mark.parametrize("text", INPUTS)
def test_unchanged_document_renders_byte_for_byte(text):
    doc = q.loads(text, option=RT)
    assert q.dumps(doc) == text
    assert doc.to_yaml() == text


@pytest.mark.parametrize("text", INPUTS)
def test_loads_all_slices_join_to_the_stream(text):
    docs = q.loads_all(text, option=RT)
    if not docs:
        # A stream without any document (comments, blank lines or a bare
        # "...") gives an empty list: there is no document to hold its text.
        assert q.loads_all(text) == []
        return
    assert b"".join(d.to_yaml() for d in docs) == text
    assert b"".join(q.dumps(d) for d in docs) == text
    for d in docs:
        assert repr(d) == "QuillfernDocument(documents=1)"
        value = d.to_dict()
        assert len(d) == (len(value) if isinstance(value, (dict, list)) else 1)


@pytest.mark.parametrize("text", INPUTS)
def test_to_dict_equals_plain_loading(text):
    plain = q.loads_all(text)
    values = [d.to_dict() for d in q.loads_all(text, option=RT)]
    assert same(values, plain)
    whole = q.loads(text, option=RT)
    count = int(repr(whole)[len("QuillfernDocument(documents="):-1])
    if count != len(plain):
        # loads drops the documents that are empty after "---"; loads_all
        # keeps them as None.
        plain = [v for v in plain if v is not None]
    assert count == len(plain)
    assert same(whole.to_dict(), plain[0] if count == 1 else plain)


@pytest.mark.parametrize("text", INPUTS)
def test_to_dict_equals_plain_loading_under_other_rule_sets(text):
    for option in (q.OPT_YAML_1_1, q.OPT_KESTIL_COMPAT, q.OPT_YAML_1_1 | q.OPT_TIMESTAMPS):
        plain = q.loads_all(text, option=option)
        values = [d.to_dict() for d in q.loads_all(text, option=option | RT)]
        assert same(values, plain), option


@pytest.mark.parametrize("encoding", ["utf-16", "utf-16-le", "utf-32", "utf-32-be"])
def test_wide_encodings_render_as_utf8_of_the_same_text(encoding):
    # With a byte order mark the text starts with U+FEFF, kept as its UTF-8 form.
    text = "# c\na: é  # x\n...\n# two\n---\nb: [1, 2]\n"
    expected = ("\ufeff" + text if encoding in ("utf-16", "utf-32") else text).encode()
    data = text.encode(encoding)
    doc = q.loads(data, option=RT)
    assert doc.to_yaml() == q.dumps(doc) == expected
    assert b"".join(d.to_yaml() for d in q.loads_all(data, option=RT)) == expected
