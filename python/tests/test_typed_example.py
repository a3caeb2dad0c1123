"""The example that mypy checks against the stubs also runs against the module."""

from __future__ import annotations

import sys

from vrn_testing import ROOT

sys.path.insert(0, str(ROOT / "python" / "tests" / "typing"))
from every_column_function import use_every_column_function  # noqa: E402
from every_function import use_every_function  # noqa: E402


def test_typed_example_runs_with_the_results_the_stubs_promise() -> None:
    results = use_every_function()
    assert all(isinstance(value, str) for value in results.values())
    assert results == {
        "sum_as_string": "42",
        "vrn_canonicalize": (
            "vrn:vlt:iam:us-east-1:6f1d2c3b-4a59-4e6f-8a7b-9c0d1e2f3a4b:project/0190c3a2-7b1e-7000-8000-00000000abcd"
        ),
        "vrn_error_kind": "bad-service",
        "vrn_build": "vrn:vlt:object-store:::bucket/0190c3a2-7b1e-7000-8000-0000000000ff",
        "vrn_service": "iam",
        "vrn_region": "us-east-1",
        "vrn_org": "6f1d2c3b-4a59-4e6f-8a7b-9c0d1e2f3a4b",
        "vrn_resource_type": "project",
        "vrn_resource_id": "0190c3a2-7b1e-7000-8000-00000000abcd",
        "mint_uuid7": "018bcfe5-6800-7fff-bfff-ffffffffffff",
        "vrn_cedar_entity_type": "Vlt::Iam::Project",
        "vrn_cedar_entity_id": "0190c3a2-7b1e-7000-8000-00000000abcd",
        "vrn_org('')": "empty",
    }


def test_typed_column_example_runs_with_the_results_it_promises() -> None:
    results = use_every_column_function()
    assert results["vrn_error_kind"] == ["", None]
    assert results["vrn_fields"] == [
        {"service": "iam", "region": "us-east-1", "org": "", "resource_type": "project",
         "resource_id": "0190c3a2-7b1e-7000-8000-00000000abcd"},
        None,
    ]
    assert results["vrn_build"] == ["vrn:vlt:iam:::project/0190c3a2-7b1e-7000-8000-00000000abcd"]
    assert results["mint_uuid7"] == ["018bcfe5-6800-7123-8567-89abcdef0123", None]
    assert results["vrn_cedar_entity_type"] == ["Vlt::Iam::Project", None]


def test_typed_vrn_example_runs() -> None:
    from vrn_value import every_member

    id_ = "0190c3a2-7b1e-7000-8000-00000000abcd"
    assert every_member() == [
        f"vrn:vlt:iam:::project/{id_}", "iam", "", "", "project", id_,
        "Vlt::Iam::Project", id_, f'Vlt::Iam::Project::"{id_}"', f"Vrn('vrn:vlt:iam:::project/{id_}')", "True",
        "4", "project", "invalid", "service", "region", "org", "resource_type", "resource_id",
    ]
