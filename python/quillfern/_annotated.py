"""Scalars that carry where they came from.

With ``OPT_ANNOTATED`` a string scalar becomes a ``QuillfernAnnotatedStr``
(and, with ``OPT_ANNOTATE_NUMBERS``, integers and floats become
``QuillfernAnnotatedInt`` and ``QuillfernAnnotatedFloat``). They behave as
the plain value in every way (equality and hashing included) and add the
location attributes ``__line__``, ``__column__``, ``__end_line__``,
``__end_column__`` (counted from 1), ``__offset__``, ``__end_offset__``
(byte offsets from 0), ``__file__``, ``__style__``, ``__source_tag__`` and
``__source_target__``.
"""

__all__ = ["QuillfernAnnotatedStr", "QuillfernAnnotatedInt", "QuillfernAnnotatedFloat"]

_INCLUDE_TAGS = frozenset(
    {
        "!include",
        "!include_dir_list",
        "!include_dir_named",
        "!include_dir_merge_list",
        "!include_dir_merge_named",
    }
)


class _Annotated:
    """Shared behaviour of the three annotated scalar classes; each names its
    plain type in ``_plain``."""

    __slots__ = ()

    def __new__(
        cls, value, line, column, file, end_line, end_column, style, source_tag, source_target, offset, end_offset
    ):
        self = cls._plain.__new__(cls, value)
        # One dict built at once: about twice as fast as ten attribute stores.
        self.__dict__ = {
            "__line__": line,
            "__column__": column,
            "__file__": file,
            "__end_line__": end_line,
            "__end_column__": end_column,
            "__style__": style,
            "__source_tag__": source_tag,
            "__source_target__": source_target,
            "__offset__": offset,
            "__end_offset__": end_offset,
        }
        return self

    def __reduce__(self):
        return (
            type(self),
            (
                self._plain(self),
                self.__line__,
                self.__column__,
                self.__file__,
                self.__end_line__,
                self.__end_column__,
                self.__style__,
                self.__source_tag__,
                self.__source_target__,
                self.__offset__,
                self.__end_offset__,
            ),
        )

    @property
    def is_secret(self):
        return self.__source_tag__ == "!secret"

    @property
    def is_env_var(self):
        return self.__source_tag__ == "!env_var"

    @property
    def is_include(self):
        return self.__source_tag__ in _INCLUDE_TAGS


# The native loader builds instances of these classes itself, exactly as
# this __new__ does, while a class's __new__ is still this one.
_NATIVE_NEW = _Annotated.__new__


class QuillfernAnnotatedStr(_Annotated, str):
    """A ``str`` with its source location."""

    _plain = str


class QuillfernAnnotatedInt(_Annotated, int):
    """An ``int`` with its source location."""

    _plain = int


class QuillfernAnnotatedFloat(_Annotated, float):
    """A ``float`` with its source location."""

    _plain = float
