"""A `vrn` accessor on Dask Series: the pandas accessor of
`veltrane_vrn.pandas`, run partition by partition where the partitions are.

    >>> import dask.dataframe as dd
    >>> import veltrane_vrn.dask
    >>> frame = dd.read_parquet("names.parquet")             # doctest: +SKIP
    >>> kinds = frame["name"].vrn.error_kind().compute()     # doctest: +SKIP

Importing this module registers the accessor (and imports Dask, pandas and
pyarrow). Its methods are those of the pandas accessor and give a lazy Dask
Series (a DataFrame for `fields()`), whose dtypes Dask learns by running the
pandas method on its empty model of a partition: nothing is written twice.
Each partition's task imports this module in the worker that runs it (the
function it calls lives here), which registers the pandas accessor there, so a
worker needs the package installed and nothing else. Errors are the pandas
accessor's, raised by `compute()`; an invalid row's message gives its index
label within its partition.
"""

from __future__ import annotations

import importlib
from typing import Any

import veltrane_vrn.pandas  # noqa: F401 - registers the pandas accessor that each partition uses
from veltrane_vrn._engines import Errors

_extensions: Any = importlib.import_module("dask.dataframe.extensions")

__all__ = ["VrnDaskAccessor"]


def _partition(partition: Any, method: str, options: dict[str, str]) -> Any:
    """One partition's answer: the pandas accessor's method. At module level,
    so that it travels to the workers by reference."""
    return getattr(partition.vrn, method)(**options)


@_extensions.register_series_accessor("vrn")
class VrnDaskAccessor:
    """`series.vrn` on a Dask Series: the pandas accessor per partition."""

    def __init__(self, series: Any) -> None:
        self._series = series

    def _map(self, method: str, **options: str) -> Any:
        # The model of the result: the pandas method on the empty model of a
        # partition, so its dtype (and, for fields, its columns) is the real one.
        meta = _partition(self._series._meta, method, options)
        return self._series.map_partitions(_partition, method, options, meta=meta)

    def error_kind(self) -> Any:
        """Per row: "" for a valid VRN, else its error token."""
        return self._map("error_kind")

    def canonicalize(self, errors: Errors = "raise") -> Any:
        """Per row: the canonical form (both UUIDs in lower case)."""
        return self._map("canonicalize", errors=errors)

    def service(self, errors: Errors = "raise") -> Any:
        """Per row: the service."""
        return self._map("service", errors=errors)

    def region(self, errors: Errors = "raise") -> Any:
        """Per row: the region, "" when the name has none."""
        return self._map("region", errors=errors)

    def org(self, errors: Errors = "raise") -> Any:
        """Per row: the org as a lowercase UUID, "" when the name has none."""
        return self._map("org", errors=errors)

    def resource_type(self, errors: Errors = "raise") -> Any:
        """Per row: the resource type."""
        return self._map("resource_type", errors=errors)

    def resource_id(self, errors: Errors = "raise") -> Any:
        """Per row: the resource id as a lowercase UUID."""
        return self._map("resource_id", errors=errors)

    def cedar_entity_type(self, errors: Errors = "raise") -> Any:
        """Per row: the Cedar entity type."""
        return self._map("cedar_entity_type", errors=errors)

    def cedar_entity_id(self, errors: Errors = "raise") -> Any:
        """Per row: the Cedar entity id (the resource id)."""
        return self._map("cedar_entity_id", errors=errors)

    def fields(self, errors: Errors = "raise") -> Any:
        """Per row, one parse: a Dask DataFrame of the five fields."""
        return self._map("fields", errors=errors)
