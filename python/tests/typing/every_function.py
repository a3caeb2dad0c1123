"""Every function of the module, as a typed caller uses it.

scripts/test type-checks this file with `mypy --strict` against the installed
stubs, and the test suite runs `use_every_function` against the module, so the
stubs and the module have to agree on names, parameters and results.
"""

from typing import assert_type

import veltrane_py_bindings as vrn

NAME = "vrn:vlt:iam:us-east-1:6F1D2C3B-4A59-4E6F-8A7B-9C0D1E2F3A4B:project/0190C3A2-7B1E-7000-8000-00000000ABCD"


def use_every_function() -> dict[str, str]:
    """Calls each function once, by position or by keyword, and returns the results."""
    results = {
        "sum_as_string": assert_type(vrn.sum_as_string(40, b=2), str),
        "vrn_canonicalize": assert_type(vrn.vrn_canonicalize(NAME), str),
        "vrn_error_kind": assert_type(vrn.vrn_error_kind(s="vrn:vlt:Iam:::project/x"), str),
        "vrn_build": assert_type(
            vrn.vrn_build(
                "object-store",
                region="",
                org="",
                resource_type="bucket",
                resource_id="0190c3a2-7b1e-7000-8000-0000000000ff",
            ),
            str,
        ),
        "vrn_service": assert_type(vrn.vrn_service(NAME), str),
        "vrn_region": assert_type(vrn.vrn_region(NAME), str),
        "vrn_org": assert_type(vrn.vrn_org(NAME), str),
        "vrn_resource_type": assert_type(vrn.vrn_resource_type(NAME), str),
        "vrn_resource_id": assert_type(vrn.vrn_resource_id(NAME), str),
        # An int timestamp is accepted where the stubs say float.
        "mint_uuid7": assert_type(vrn.mint_uuid7(1700000000000, rand_hex="ffffffffffffffffffff"), str),
        "vrn_cedar_entity_type": assert_type(vrn.vrn_cedar_entity_type(s=NAME), str),
        "vrn_cedar_entity_id": assert_type(vrn.vrn_cedar_entity_id(NAME), str),
    }
    try:
        vrn.vrn_org("")
    except ValueError as error:
        results["vrn_org('')"] = str(error)
    return results


def misuses() -> None:
    """Never called. Each line must be refused by the type checker: under
    --strict an ignore comment that silences nothing is itself an error."""
    vrn.vrn_region(None)  # type: ignore[arg-type]
    vrn.vrn_build("iam", "", "", "project")  # type: ignore[call-arg]
    vrn.vrn_build("iam", None, None, "project", "x")  # type: ignore[arg-type]
    vrn.mint_uuid7("1700000000000", "ffffffffffffffffffff")  # type: ignore[arg-type]
    vrn.sum_as_string(1.5, 2)  # type: ignore[arg-type]
    vrn.vrn_service(name=NAME)  # type: ignore[call-arg]
    count: int = vrn.vrn_error_kind(NAME)  # type: ignore[assignment]
    del count
