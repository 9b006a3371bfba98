"""quillfern: fast, faithful YAML for Python.

Everything the native module ``_quillfern`` exports is re-exported here,
together with the exception classes and the annotated scalar classes.
"""

from . import _quillfern
from ._quillfern import *  # noqa: F401,F403
from .exceptions import *  # noqa: F401,F403
from . import exceptions as _exceptions
from ._annotated import (
    QuillfernAnnotatedFloat,
    QuillfernAnnotatedInt,
    QuillfernAnnotatedStr,
)

__all__ = [
    *_quillfern.__all__,
    *_exceptions.__all__,
    "QuillfernAnnotatedStr",
    "QuillfernAnnotatedInt",
    "QuillfernAnnotatedFloat",
]
