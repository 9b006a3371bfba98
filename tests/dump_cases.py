"""Values that are awkward to write as YAML, and the strict equality that
read-back tests compare with."""

import math

import quillfern as q

MODES = {"1.2": 0, "1.1": q.OPT_YAML_1_1, "compat": q.OPT_KESTIL_COMPAT}


def same(a, b, ordered=True):
    """Equality that also tells True from 1, 1.0 from 1 and NaN from NaN, and
    (when `ordered`) compares the order of mapping keys."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y, ordered) for x, y in zip(a, b))
    if isinstance(a, dict):
        if len(a) != len(b):
            return False
        if not ordered:
            b_keys = {k: k for k in b}
            return all(ka in b_keys and same(ka, b_keys[ka]) and same(va, b[ka], ordered) for ka, va in a.items())
        for (ka, va), (kb, vb) in zip(a.items(), b.items()):
            if not same(ka, kb) or not same(va, vb, ordered):
                return False
        return True
    return a == b


AWKWARD = [
    # reserved words of every mode
    "null", "Null", "NULL", "~", "true", "True", "TRUE", "false", "FALSE", "yes", "Yes", "no", "NO", "on", "Off",
    "y", "Y", "n", "N", "<<", "=", "nULL", "tRUE", "inf", "nan",
    # numbers of every mode
    "1", "-1", "+1", "0", "-0", "00", "017", "0o17", "0x1F", "0X1f", "0b101", "1_000", "1__0", "_1", "1.5", "1.",
    ".5", "1e3", "1E3", "1e+3", "12e03", ".inf", "-.inf", "+.inf", ".Inf", ".NaN", ".nan", "1:30", "190:20:30.15",
    "-1:30", "+12", "0.1e+3", "1,000", "9" * 30, "-" + "9" * 30, "0x_1", "1_2.5", "6.8523015e+5", "685.230_15e+03",
    # timestamps
    "2001-12-15T02:59:43.1Z", "2001-12-15T02:59:43.1z", "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43.10 -5",
    "2002-12-14", "2001-12-15 2:59:43.10", "2001-1-2", "1999-01-01T00:00:00",
    # indicators, comments and document markers
    "-", "- a", "-a", "?", "? a", "?a", ":", ":a", "a:", "a: b", "a :b", "a:b", "#", "a #b", "a#b", "a\t#b", "&a",
    "*a", "!a", "|", ">", "%x", "@x", "`x", "'", '"', "[", "]", "{", "}", ",", "a,b", "[a]", "{a: 1}", "---",
    "...", "--- x", "... x", "----", "a ---", "a'b", 'a"b', "\\", "a\\nb",
    # blanks
    " ", "  ", " a", "a ", "\ta", "a\t", "a  b", "a \tb",
    # control characters and special code points
    "\x00", "\x07", "\x1b", "\x7f", "\x85", "a\x85b", "\x9f", "\u2028", "a\u2029b", "\ufeffa", "\ufffe", "\uffff",
    # line breaks
    "\n", "a\n", "\na", "a\nb", "a\n\n", "a\r\nb", "a\rb", "\r", " a\nb", "a\n b", "a\tb\n", "\n\n", "a\n\n\n",
    "- a\n- b\n", "a: 1\nb: 2", "# c\nx", "\ta\nb",
    # unicode and long texts
    "é", "日本語", "😀", "a\u00a0", "\u00a0a", "word " * 20, "word " * 19 + "word", "a" * 100, "a b" * 30,
]
