"""Exception classes raised by quillfern.

The native module looks these classes up by name on first use, creates each
with one message argument and then sets attributes such as ``file``,
``line``, ``column``, ``include_stack`` or ``schema_path`` on the instance.
The attributes exist only where they apply, so there are no class-level
defaults for them.
"""

__all__ = [
    "QuillfernError",
    "QuillfernDecodeError",
    "QuillfernParseError",
    "QuillfernDuplicateKeyError",
    "QuillfernComplexKeyError",
    "QuillfernEncodeError",
    "QuillfernUnserializableError",
    "QuillfernIncludeError",
    "QuillfernIncludeNotFoundError",
    "QuillfernCircularIncludeError",
    "QuillfernIncludeDepthError",
    "QuillfernIncludeConfinementError",
    "QuillfernSecretNotFoundError",
    "QuillfernEnvVarError",
    "QuillfernSchemaError",
]


class QuillfernError(Exception):
    """Base class of every error quillfern raises on purpose."""


class QuillfernDecodeError(QuillfernError, ValueError):
    """The input could not be read as YAML (undecodable bytes, or a value
    that cannot become a Python object)."""


class QuillfernParseError(QuillfernDecodeError):
    """The text is not valid YAML; carries ``file``, ``line`` and ``column``."""


class QuillfernDuplicateKeyError(QuillfernDecodeError):
    """A mapping repeats a key while duplicate keys are an error."""


class QuillfernComplexKeyError(QuillfernDecodeError):
    """A collection is used as a mapping key while complex keys are refused."""


class QuillfernEncodeError(QuillfernError, ValueError):
    """An object could not be written as YAML or JSON."""


class QuillfernUnserializableError(QuillfernEncodeError, TypeError):
    """An object of a type that cannot be represented."""


class QuillfernIncludeError(QuillfernError):
    """A configuration directive (``!include`` and friends) failed."""


class QuillfernIncludeNotFoundError(QuillfernIncludeError):
    """An included file or directory does not exist."""


class QuillfernCircularIncludeError(QuillfernIncludeError):
    """A file includes itself, directly or through other files."""


class QuillfernIncludeDepthError(QuillfernIncludeError):
    """Includes are nested deeper than allowed."""


class QuillfernIncludeConfinementError(QuillfernIncludeError):
    """An include points outside the include directory."""


class QuillfernSecretNotFoundError(QuillfernError):
    """A ``!secret`` names a value that no ``secrets.yaml`` defines."""


class QuillfernEnvVarError(QuillfernError):
    """An ``!env_var`` names an environment variable that is not set."""


class QuillfernSchemaError(QuillfernError, ValueError):
    """The document does not validate against its schema; carries
    ``schema_path``, ``line`` and ``column``."""
