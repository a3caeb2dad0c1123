"""VRNs for Python: the `Vrn` value type, column functions over Arrow data
(`veltrane_vrn.columns`) and the `vrn` command line tool, over the
`veltrane_py_bindings` extension module and its kernel.

Run the command as `vrn` (installed console script) or `python -m veltrane_vrn`;
its entry point is `veltrane_vrn.cli.main`.

The engines' own ways in are modules of their own, each imported only when
asked for: `veltrane_vrn.duckdb` (SQL functions), `veltrane_vrn.polars` and
`veltrane_vrn.pandas` (a `vrn` namespace), `veltrane_vrn.dask`,
`veltrane_vrn.spark` (column functions); `Vrn` is a pydantic field type as it
is (`veltrane_vrn.pydantic`).
"""

from __future__ import annotations

from veltrane_vrn._native import Vrn as Vrn

TYPE_CHECKING = False  # typing is kept out of the start-up time of the `vrn` command
if TYPE_CHECKING:
    from typing import Any

__all__ = ["Vrn"]


# pydantic asks a field's type for its schema through these two class
# attributes. They import pydantic's side of `Vrn` only when called, so
# importing this package never imports pydantic.
def _pydantic_core_schema(cls: type[Vrn], source: Any, handler: Any) -> Any:
    from veltrane_vrn.pydantic import vrn_core_schema

    return vrn_core_schema(source, handler)


def _pydantic_json_schema(cls: type[Vrn], schema: Any, handler: Any) -> Any:
    from veltrane_vrn.pydantic import json_schema

    return json_schema(schema, handler)


setattr(Vrn, "__get_pydantic_core_schema__", classmethod(_pydantic_core_schema))  # noqa: B010 - not in the stubs
setattr(Vrn, "__get_pydantic_json_schema__", classmethod(_pydantic_json_schema))  # noqa: B010
