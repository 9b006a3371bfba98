"""Fallback host types of dumps and to_json: dates and times, enums,
dataclasses, numpy values, UUID, Decimal and path-like objects."""

import dataclasses
import datetime as dt
import decimal
import enum
import json
import pathlib
import subprocess
import sys
import typing
import uuid

import pytest

import quillfern as q
from quillfern.exceptions import QuillfernUnserializableError

D = decimal.Decimal
OMIT, NAIVE, Z = q.OPT_OMIT_MICROSECONDS, q.OPT_NAIVE_UTC, q.OPT_UTC_Z


def text_of(obj, option=0):
    """The string a value converts to, read through to_json (no quoting)."""
    return json.loads(q.to_json(obj, option=option))


# ---------------------------------------------------------------- dates and times

UTC = dt.timezone.utc
PLUS2 = dt.timezone(dt.timedelta(hours=2))
NAIVE_DT = dt.datetime(2024, 5, 6, 7, 8, 9, 123456)
AWARE_UTC = dt.datetime(2024, 5, 6, 7, 8, 9, 123456, tzinfo=UTC)
AWARE_2 = dt.datetime(2024, 5, 6, 7, 8, 9, tzinfo=PLUS2)
DATE = dt.date(2024, 5, 6)
TIME = dt.time(7, 8, 9, 123456)
TIME_UTC = dt.time(7, 8, 9, tzinfo=UTC)

TIME_TABLE = [
    # value, none, OMIT, NAIVE, Z, NAIVE+Z
    (NAIVE_DT, "2024-05-06T07:08:09.123456", "2024-05-06T07:08:09", "2024-05-06T07:08:09.123456+00:00",
     "2024-05-06T07:08:09.123456", "2024-05-06T07:08:09.123456Z"),
    (AWARE_UTC, "2024-05-06T07:08:09.123456+00:00", "2024-05-06T07:08:09+00:00",
     "2024-05-06T07:08:09.123456+00:00", "2024-05-06T07:08:09.123456Z", "2024-05-06T07:08:09.123456Z"),
    (AWARE_2,) + ("2024-05-06T07:08:09+02:00",) * 5,
    (DATE,) + ("2024-05-06",) * 5,
    (TIME, "07:08:09.123456", "07:08:09", "07:08:09.123456", "07:08:09.123456", "07:08:09.123456"),
    (TIME_UTC, "07:08:09+00:00", "07:08:09+00:00", "07:08:09+00:00", "07:08:09Z", "07:08:09Z"),
]


@pytest.mark.parametrize("row", TIME_TABLE, ids=lambda r: r[1])
def test_time_options(row):
    value, none, omit, naive, z, naive_z = row
    assert text_of(value) == none
    assert text_of(value, OMIT) == omit
    assert text_of(value, NAIVE) == naive
    assert text_of(value, Z) == z
    assert text_of(value, NAIVE | Z) == naive_z


def test_all_time_options_together():
    assert text_of(NAIVE_DT, OMIT | NAIVE | Z) == "2024-05-06T07:08:09Z"
    assert text_of(dt.datetime(2024, 5, 6, tzinfo=dt.timezone(-dt.timedelta(0))), Z) == "2024-05-06T00:00:00Z"


def test_offsets_with_seconds_are_kept_whole():
    # An offset with seconds (and microseconds) is still an offset: omitting
    # microseconds must not cut it, and NAIVE_UTC must not add a second one.
    tz = dt.timezone(dt.timedelta(hours=5, minutes=30, seconds=15))
    value = dt.datetime(2024, 5, 6, 7, 8, 9, 123456, tzinfo=tz)
    assert text_of(value) == "2024-05-06T07:08:09.123456+05:30:15"
    assert text_of(value, OMIT) == "2024-05-06T07:08:09+05:30:15"
    assert text_of(value, NAIVE) == "2024-05-06T07:08:09.123456+05:30:15"
    assert text_of(value, OMIT | NAIVE | Z) == "2024-05-06T07:08:09+05:30:15"
    tz = dt.timezone(-dt.timedelta(hours=1, seconds=1, microseconds=5))
    value = dt.datetime(2024, 5, 6, 7, 8, 9, 500, tzinfo=tz)
    assert text_of(value) == "2024-05-06T07:08:09.000500-01:00:01.000005"
    assert text_of(value, OMIT) == "2024-05-06T07:08:09-01:00:01.000005"
    assert text_of(value, NAIVE | Z) == "2024-05-06T07:08:09.000500-01:00:01.000005"
    assert text_of(dt.time(1, 2, 3, 4, tzinfo=tz), OMIT) == "01:02:03-01:00:01.000005"


def test_dates_in_yaml_output():
    assert q.dumps({"d": DATE, "t": NAIVE_DT}) == b"d: 2024-05-06\nt: 2024-05-06T07:08:09.123456\n"
    # under YAML 1.1 a timestamp-shaped text is quoted, so it reads back as text
    assert q.dumps(DATE, option=q.OPT_YAML_1_1) == b'"2024-05-06"\n'


def test_passthrough_datetime_reaches_default():
    seen = []
    out = q.dumps([NAIVE_DT, DATE], option=q.OPT_PASSTHROUGH_DATETIME, default=lambda o: seen.append(o) or "x")
    assert out == b"- x\n- x\n" and seen == [NAIVE_DT, DATE]
    with pytest.raises(QuillfernUnserializableError, match="^type datetime is not YAML serializable$"):
        q.dumps(NAIVE_DT, option=q.OPT_PASSTHROUGH_DATETIME)


class Iso:
    def __init__(self, result):
        self.result = result

    def isoformat(self):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


def test_any_isoformat_object():
    assert text_of(Iso("whenever")) == "whenever"
    assert text_of(Iso("2024-05-06T07:08:09.5"), OMIT | NAIVE) == "2024-05-06T07:08:09+00:00"
    # a result that is not text: not handled here, default decides
    assert q.dumps(Iso(42), default=lambda o: "d") == b"d\n"
    with pytest.raises(QuillfernUnserializableError, match="type Iso"):
        q.dumps(Iso(b"x"))
    with pytest.raises(QuillfernUnserializableError, match="type Iso"):
        q.dumps(Iso("\ud800"))
    # errors of the call pass through
    err = ArithmeticError("iso")
    with pytest.raises(ArithmeticError) as info:
        q.dumps(Iso(err))
    assert info.value is err


def test_isoformat_that_is_not_callable_fails():
    class Bad:
        isoformat = "not callable"

    with pytest.raises(TypeError):
        q.dumps(Bad())


def test_isoformat_lookup_errors_are_discarded():
    class Weird:
        def __getattr__(self, name):
            raise RuntimeError(name)

    with pytest.raises(RuntimeError, match="__dataclass_fields__"):
        q.dumps(Weird())  # isoformat's error is discarded; the dataclass probe's passes


def test_isoformat_comes_before_enum_and_dataclass():
    @dataclasses.dataclass
    class Stamp:
        x: int

        def isoformat(self):
            return "stamp"

    assert text_of(Stamp(1)) == "stamp"


# ---------------------------------------------------------------- enums


class Color(enum.Enum):
    RED = 1
    PAIR = (1, 2)
    NESTED = {"k": [1]}


class Perm(enum.Flag):
    R = 4
    W = 2


class Num(enum.IntEnum):
    ONE = 1


def test_enum_members():
    assert q.dumps([Color.RED, Color.PAIR, Color.NESTED]) == b"- 1\n-\n  - 1\n  - 2\n- k:\n    - 1\n"
    assert q.dumps(Perm.R | Perm.W) == b"6\n"
    assert q.dumps(Num.ONE) == b"1\n"
    # the class itself is not a member
    with pytest.raises(QuillfernUnserializableError, match="^type EnumType is not YAML serializable$"):
        q.dumps(Color)


def test_enum_value_counts_one_level_deeper():
    class Deep(enum.Enum):
        X = 1

    x = Deep.X
    for _ in range(999):
        x = [x]
    with pytest.raises(q.QuillfernEncodeError, match="too deeply nested"):
        q.dumps(x)
    assert q.dumps(x[0]).endswith(b"- 1\n")


# ---------------------------------------------------------------- dataclasses


@dataclasses.dataclass
class Point:
    x: int
    y: str
    tags: list = dataclasses.field(default_factory=list)
    kind: typing.ClassVar[str] = "pt"


def test_dataclass_fields_in_order_with_class_variables():
    assert q.dumps(Point(1, "a", [2])) == b"x: 1\ny: a\ntags:\n  - 2\nkind: pt\n"


def test_dataclass_options_and_class_objects():
    assert q.dumps(Point(1, "a"), option=q.OPT_PASSTHROUGH_DATACLASS, default=lambda o: "p") == b"p\n"
    with pytest.raises(QuillfernUnserializableError, match="^type Point is not YAML serializable$"):
        q.dumps(Point(1, "a"), option=q.OPT_PASSTHROUGH_DATACLASS)
    with pytest.raises(QuillfernUnserializableError, match="^type type is not YAML serializable$"):
        q.dumps(Point)


def test_dataclass_field_errors_pass_through():
    @dataclasses.dataclass
    class Lazy:
        x: int

        def __getattribute__(self, name):
            if name == "x":
                raise LookupError("x")
            return object.__getattribute__(self, name)

    with pytest.raises(LookupError):
        q.dumps(Lazy(1))

    class Fake:
        __dataclass_fields__ = {1: None}

    with pytest.raises(TypeError):
        q.dumps(Fake())


def test_dataclass_self_reference():
    @dataclasses.dataclass
    class Node:
        nxt: object = None

    n = Node()
    n.nxt = n
    with pytest.raises(q.QuillfernEncodeError, match="possible self-reference"):
        q.dumps(n)


# ---------------------------------------------------------------- UUID, Decimal, paths


def test_uuid():
    u = uuid.UUID("12345678-1234-5678-1234-567812345678")
    assert q.dumps(u) == b"12345678-1234-5678-1234-567812345678\n"

    class MyUUID(uuid.UUID):
        pass

    with pytest.raises(QuillfernUnserializableError, match="type MyUUID"):
        q.dumps(MyUUID(int=1))


@pytest.mark.parametrize(
    "value, expected",
    [
        (D("42"), b"42\n"),
        (D("1E+3"), b"1000\n"),
        (D("-0"), b"-0\n"),
        (D("123456789012345678901234567890"), b"123456789012345678901234567890\n"),
        (D("1.5"), b"1.5\n"),
        (D("1.10"), b"1.1\n"),
        (D("1E-7"), b"1.0e-07\n"),
        (D("3.14159265358979323846"), b'"3.14159265358979323846"\n'),
        (D("NaN"), b".nan\n"),
        (D("sNaN"), b".nan\n"),
        (D("Infinity"), b".inf\n"),
        (D("-Infinity"), b"-.inf\n"),
    ],
)
def test_decimal(value, expected):
    assert q.dumps(value) == expected


def test_decimal_in_json():
    assert q.to_json([D("42"), D("1.5"), D("NaN"), D("0.1000000000000000000001")]) == \
        b'[42,1.5,null,"0.1000000000000000000001"]'


def test_decimal_subclass_with_other_name_is_not_recognised():
    class Money(D):
        pass

    with pytest.raises(QuillfernUnserializableError, match="type Money"):
        q.dumps(Money("1"))


class FsPath:
    def __init__(self, result):
        self.result = result

    def __fspath__(self):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


def test_path_like():
    assert q.dumps(pathlib.PurePosixPath("/etc/x")) == b"/etc/x\n"
    assert q.dumps(FsPath("rel/p")) == b"rel/p\n"
    assert q.dumps(FsPath(b"/bytes"), default=lambda o: "d") == b"d\n"
    with pytest.raises(QuillfernUnserializableError, match="type FsPath"):
        q.dumps(FsPath(b"/bytes"))
    err = OSError("fs")
    with pytest.raises(OSError) as info:
        q.dumps(FsPath(err))
    assert info.value is err


# ---------------------------------------------------------------- numpy


def test_numpy_is_not_imported_at_module_import():
    code = (
        "import sys, quillfern\n"
        "assert 'numpy' not in sys.modules\n"
        "quillfern.dumps([1, {'a': 2.5}], option=quillfern.OPT_SERIALIZE_NUMPY)\n"
        "assert 'numpy' not in sys.modules\n"
        "class X: pass\n"
        "try:\n"
        "    quillfern.dumps(X(), option=quillfern.OPT_SERIALIZE_NUMPY)\n"
        "except quillfern.QuillfernUnserializableError:\n"
        "    pass\n"
        "else:\n"
        "    raise SystemExit('X was written')\n"
        "print('numpy' in sys.modules)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    # once an object reaches the numpy step, numpy is imported if it is installed
    try:
        import numpy  # noqa: F401
        assert out.stdout.strip() == "True"
    except ImportError:
        assert out.stdout.strip() == "False"


def test_without_numpy_the_option_changes_nothing():
    code = (
        "import sys\n"
        "sys.modules['numpy'] = None\n"
        "import quillfern\n"
        "class X: pass\n"
        "try:\n"
        "    quillfern.dumps(X(), option=quillfern.OPT_SERIALIZE_NUMPY)\n"
        "except quillfern.QuillfernUnserializableError as e:\n"
        "    print(e)\n"
        "print(quillfern.dumps(X(), option=quillfern.OPT_SERIALIZE_NUMPY, default=lambda o: 1))\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.splitlines() == ["type X is not YAML serializable", "b'1\\n'"]


class TestNumpy:
    np = pytest.importorskip("numpy")
    N = q.OPT_SERIALIZE_NUMPY

    def test_arrays_and_scalars(self):
        np = self.np
        assert q.dumps(np.array([[1, 2], [3, 4]]), option=self.N) == b"-\n  - 1\n  - 2\n-\n  - 3\n  - 4\n"
        assert q.dumps(np.int64(7), option=self.N) == b"7\n"
        assert q.dumps(np.bool_(True), option=self.N) == b"true\n"
        assert q.dumps({"a": np.float32(0.5)}, option=self.N) == b"a: 0.5\n"
        assert q.dumps(np.array([], dtype=float), option=self.N) == b"[]\n"
        assert q.to_json({"m": np.arange(3)}, option=self.N) == b'{"m":[0,1,2]}'

    def test_without_the_option(self):
        np = self.np
        with pytest.raises(QuillfernUnserializableError, match="^type int64 is not YAML serializable$"):
            q.dumps(np.int64(7))
        assert q.dumps(np.int64(7), default=int) == b"7\n"
        # float64 derives from float and str_ from str: taken without the option
        assert q.dumps([np.float64(1.5), np.str_("s")]) == b"- 1.5\n- s\n"

    def test_object_arrays(self):
        np = self.np
        arr = np.array([dt.date(2024, 1, 2), None], dtype=object)
        assert q.dumps(arr, option=self.N) == b"- 2024-01-02\n-\n"

    def test_plain_objects_count_one_level_deeper(self):
        np = self.np
        x = np.int64(1)
        for _ in range(999):
            x = [x]
        with pytest.raises(q.QuillfernEncodeError, match="too deeply nested"):
            q.dumps(x, option=self.N)
