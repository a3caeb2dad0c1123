"""Calls every column function as a user would; mypy --strict checks it against
veltrane_vrn.columns, and test_typed_example.py runs it."""

from __future__ import annotations

from typing import Any

from veltrane_vrn import columns

NAME = "vrn:vlt:iam:us-east-1::project/0190C3A2-7B1E-7000-8000-00000000ABCD"


def use_every_column_function() -> dict[str, list[Any]]:
    names: list[str | None] = [NAME, None]
    built: columns.Column = columns.vrn_build(["iam"], [""], [""], ["project"], ["0190c3a2-7b1e-7000-8000-00000000abcd"])
    minted = columns.mint_uuid7([1700000000000, 1.5], ["0123456789abcdef0123", "0123456789abcdef0123"], errors="null")
    results: dict[str, columns.Column] = {
        "vrn_error_kind": columns.vrn_error_kind(names),
        "vrn_canonicalize": columns.vrn_canonicalize(names),
        "vrn_service": columns.vrn_service(names, errors="raise"),
        "vrn_region": columns.vrn_region(names),
        "vrn_org": columns.vrn_org(names),
        "vrn_resource_type": columns.vrn_resource_type(names),
        "vrn_resource_id": columns.vrn_resource_id(names),
        "vrn_cedar_entity_type": columns.vrn_cedar_entity_type(names),
        "vrn_cedar_entity_id": columns.vrn_cedar_entity_id(names, errors="null"),
        "vrn_fields": columns.vrn_fields(names),
        "vrn_build": built,
        "mint_uuid7": minted,
    }
    for result in results.values():
        assert len(result) >= 1 and result.num_chunks == 1
        schema: object = result.__arrow_c_schema__()
        assert schema is not None
    return {name: result.to_pylist() for name, result in results.items()}
