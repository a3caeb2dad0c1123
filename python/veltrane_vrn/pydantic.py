"""`Vrn` as a pydantic field type.

    >>> from pydantic import BaseModel
    >>> from veltrane_vrn import Vrn
    >>> class Request(BaseModel):
    ...     resource: Vrn
    >>> Request(resource="vrn:vlt:iam:::project/0190C3A2-7B1E-7000-8000-00000000ABCD").model_dump_json()
    '{"resource":"vrn:vlt:iam:::project/0190c3a2-7b1e-7000-8000-00000000abcd"}'

Nothing to import but `Vrn`: `veltrane_vrn` sets on it the hooks pydantic asks
a type for, and they import this module, and pydantic_core, only when pydantic
builds a schema with a `Vrn` in it (importing `veltrane_vrn` never imports
pydantic). A `str` is parsed once, by `Vrn`; a `Vrn` passes as it is; anything
else is pydantic's own `string_type` error. An invalid name is the error type
`vrn_<token>` (the token with `_` for `-`, as `vrn_bad_resource_id`), whose
context holds the token. A `Vrn` serialises to its canonical text, in Python
and JSON mode. Its JSON schema is a string with `PATTERN` and `MAX_LENGTH`.
"""

from __future__ import annotations

from typing import Any

from pydantic_core import PydanticCustomError, PydanticKnownError, core_schema

from veltrane_vrn._native import Vrn

__all__ = ["MAX_LENGTH", "PATTERN", "json_schema", "vrn_core_schema"]

_UUID = "[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}"
_IDENTIFIER = "[a-z][a-z0-9]*(?:-[a-z][a-z0-9]*)*"
_REGION = "[a-z0-9]+(?:-[a-z0-9]+)*"

# The grammar of a VRN for JSON Schema readers (form generators, API clients):
# a description of what `Vrn` accepts, never used to validate here. The tests
# hold it to the parser on sample and generated names, with MAX_LENGTH (the
# limit is in bytes, and a name that matches is ASCII).
PATTERN = f"^vrn:vlt:{_IDENTIFIER}:(?:{_REGION})?:(?:{_UUID})?:{_IDENTIFIER}/{_UUID}$"
MAX_LENGTH = 512


def _invalid(token: str) -> PydanticCustomError:
    return PydanticCustomError(f"vrn_{token.replace('-', '_')}", "Value is not a valid VRN: {token}", {"token": token})


def _from_str(value: str) -> Vrn:
    try:
        return Vrn.parse(value)
    except ValueError as error:
        raise _invalid(str(error.args[0])) from None


def _from_python(value: object) -> Vrn:
    if isinstance(value, Vrn):
        return value
    if isinstance(value, str):
        return _from_str(value)
    raise PydanticKnownError("string_type")


def _canonical(value: Vrn) -> str:
    return value.canonical


def vrn_core_schema(source: Any, handler: Any) -> core_schema.CoreSchema:
    """What `Vrn.__get_pydantic_core_schema__` gives: a `Vrn` or a `str` in
    Python, a JSON string in JSON, the canonical text out."""
    return core_schema.json_or_python_schema(
        json_schema=core_schema.no_info_after_validator_function(_from_str, core_schema.str_schema()),
        python_schema=core_schema.no_info_plain_validator_function(_from_python),
        serialization=core_schema.plain_serializer_function_ser_schema(
            _canonical, info_arg=False, return_schema=core_schema.str_schema(), when_used="always"
        ),
    )


def json_schema(schema: Any, handler: Any) -> dict[str, Any]:
    """What `Vrn.__get_pydantic_json_schema__` gives, in validation and serialisation mode alike."""
    return {"type": "string", "pattern": PATTERN, "maxLength": MAX_LENGTH}
