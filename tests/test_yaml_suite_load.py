"""The YAML test suite through loads_all: every valid case loads and equals
its in.json (when it has one); every case marked as an error raises."""

import json
import math

import pytest

import quillfern as q
from quillfern import exceptions as qe

from helpers import SUITE, suite_cases

CASES = suite_cases()


def case_id(d):
    return str(d.relative_to(SUITE))


# Cases whose expected outcome differs on purpose, each with the rule that
# decides it.
SKIP = {
}

# Known faults elsewhere in the loader, kept visible as strict expected
# failures so that the fix shows up here.
XFAIL = {
}


def json_documents(text):
    """in.json may hold several JSON documents in a row."""
    dec = json.JSONDecoder()
    docs, pos = [], 0
    while True:
        while pos < len(text) and text[pos] in " \t\r\n":
            pos += 1
        if pos >= len(text):
            return docs
        value, pos = dec.raw_decode(text, pos)
        docs.append(value)


def equal(a, b):
    """JSON equality: numbers compare by value, NaN never appears in JSON."""
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(equal(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(equal(x, y) for x, y in zip(a, b))
    if isinstance(a, bool) or isinstance(b, bool):
        return type(a) is type(b) and a == b
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        return a == b or (isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b))
    return type(a) is type(b) and a == b


@pytest.mark.skipif(not CASES, reason="the YAML test suite is not available")
@pytest.mark.parametrize("case", CASES, ids=case_id)
def test_suite_case(case, request):
    cid = case_id(case)
    if cid in SKIP:
        pytest.skip(SKIP[cid])
    if cid in XFAIL:
        request.applymarker(pytest.mark.xfail(reason=XFAIL[cid], strict=True))
    data = (case / "in.yaml").read_bytes()
    if (case / "error").exists():
        with pytest.raises(qe.QuillfernError) as info:
            q.loads_all(data)
        e = info.value
        if isinstance(e, qe.QuillfernParseError):
            assert e.line >= 1 and e.column >= 1
            assert str(e).endswith(f" at line {e.line}, column {e.column}")
        return
    docs = q.loads_all(data)
    if (case / "in.json").exists():
        want = json_documents((case / "in.json").read_text(encoding="utf-8"))
        assert equal(docs, want), (docs, want)
    # loads gives the first document of the same stream
    first = q.loads(data)
    assert equal(first, docs[0]) if docs else first is None
