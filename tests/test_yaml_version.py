"""yaml_version: the %YAML directive of a text, found without parsing it."""

import pytest

from quillfern import yaml_version


@pytest.mark.parametrize(
    "text, expected",
    [
        ("%YAML 1.1\n---\na: 1\n", "1.1"),
        ("%YAML 1.2\n---\n", "1.2"),
        ("# comment\n\n%TAG ! tag:example.com,2000:\n%YAML 1.2\n---\n", "1.2"),
        ("%YAML1.1\n%YAML 1.1\n", "1.1"),
        ("%YAML\n", None),
        ("%YAML 1\n", None),
        ("%YAML 1.2.3\n", None),
        ("%YAML .1\n", None),
        ("%YAML 1.\n", None),
        ("%YAML #1.1\n", None),
        ("%YAML 1.2 # trailing comment\n", "1.2"),
        ("%YAML 1.2#c\n", None),
        ("---\n%YAML 1.1\n", None),
        ("a: 1\n%YAML 1.1\n", None),
        ("  %YAML 1.1\n", "1.1"),
        ("\t%YAML\t1.1\t\n", "1.1"),
        ("\u3000%YAML\u00a01.1\u2003# c\n", "1.1"),
        ("a\r%YAML 1.1\n", None),
        ("# c\r\n%YAML 1.1\r\n---\r\n", "1.1"),
        ("# c\r%YAML 1.1\r---\r", "1.1"),  # CR-only line breaks
        ("%YAML 4294967296.0\n", None),
        ("%YAML 4294967295.0\n", "4294967295.0"),
        ("%YAML 0.4294967296\n", None),
        ("%YAML 01.001\n", "1.1"),
        ("%YAML 01.02\n", "1.2"),
        ("%YAML +1.1\n", None),
        ("%YAML -1.1\n", None),
        ("%YAML 1.1 extra words\n", "1.1"),
        ("%yaml 1.1\n", None),
        ("%\n%YAML 1.1\n", "1.1"),
        ("%FOO bar\n%YAML 1.3\n", "1.3"),
        ("\ufeff%YAML 1.1\n", "1.1"),
        ("\ufeff\ufeff%YAML 1.1\n", None),
        ("", None),
        ("\n\n\n", None),
        ("# only a comment", None),
        ("%YAML 1.1", "1.1"),
        ("%YAML 1.1\n%YAML 1.2\n", "1.1"),
        ("%YAML ١.١\n", None),  # non-ASCII digits
        ("[%YAML 1.1]\n", None),
    ],
)
def test_yaml_version(text, expected):
    assert yaml_version(text) == expected
    assert yaml_version(text.encode()) == expected


def test_text_that_would_not_load_still_reports_its_version():
    assert yaml_version("%YAML 1.1\n---\n[unclosed\n: : :") == "1.1"


def test_long_document_is_not_read_past_its_first_line():
    text = "%YAML 1.2\n" + "key: value\n" * 200000
    assert yaml_version(text) == "1.2"
