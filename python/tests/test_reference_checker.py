"""The pure-Python checkers of the benchmarks agree with the module: the
reference checker on every token, and the plain loop's single regular
expression on which names are valid, so that the throughput benchmark
compares two commands that do the same job."""

from __future__ import annotations

import sys
from collections import Counter

import pytest
import veltrane_py_bindings as vrn
from vrn_helpers import ID, ROOT, VALID

sys.path.insert(0, str(ROOT / "python" / "benchmarks"))
import names  # noqa: E402
import plain_check  # noqa: E402
import reference_vrn  # noqa: E402

TOKENS = {
    "empty", "too-long", "bad-scheme", "bad-partition", "wrong-field-count", "bad-service",
    "bad-region", "bad-org", "bad-resource-path", "bad-resource-type", "bad-resource-id",
}


def test_reference_agrees_with_the_module_on_a_generated_sample() -> None:
    sample = list(names.generate(20_000, seed=7))
    seen = Counter(vrn.vrn_error_kind(name) for name in sample)
    assert set(seen) == TOKENS | {""}, "the sample should hit every token"
    assert 0.7 < seen[""] / len(sample) < 0.9
    disagreements = [
        (name, expected, reference_vrn.error_kind(name))
        for name in sample
        if (expected := vrn.vrn_error_kind(name)) != reference_vrn.error_kind(name)
    ]
    assert disagreements == []
    assert [name for name in sample if plain_valid(name) != (vrn.vrn_error_kind(name) == "")] == []


def plain_valid(name: str) -> bool:
    return len(name) <= plain_check.MAX_VRN_LEN and plain_check.VRN.fullmatch(name) is not None


@pytest.mark.parametrize(
    "name",
    [
        # UUID spellings that `uuid.UUID` (through `int(..., 16)`) would take.
        f"vrn:vlt:iam:::project/{ID[:30]}_{ID[31:]}",
        f"vrn:vlt:iam:::project/+{ID[1:]}",
        f"vrn:vlt:iam:::project/ {ID[1:]}",
        f"vrn:vlt:iam::{{{ID[:34]}}}:project/{ID}",
        f"vrn:vlt:iam::{ID.replace('-', '')}:project/{ID}",
        # Byte lengths, not characters.
        "vrn:vlt:s:::" + "a" * 463 + f"/{ID}",
        "vrn:vlt:s:::" + "a" * 464 + f"/{ID}",
        "\u00e9" * 300,
        "vrn:vlt:s:::" + "a" * 230 + "\u00e9" * 117 + f"/{ID}",
        # Check order: the first failed check decides.
        ":vlt:iam:::project/x",
        "vrn:vlt:Iam:US::project",
        f"vrn:vlt:iam:us-:{ID}:project/{ID}",
        "vrn:vlt:i\u00e4m:::project/" + ID,
        "vrn:vlt:iam:::/" + ID,
        f"vrn:vlt:iam:::project/{ID}\x00",
        VALID,
    ],
)
def test_reference_agrees_with_the_module_on_edge_cases(name: str) -> None:
    assert reference_vrn.error_kind(name) == vrn.vrn_error_kind(name)
    assert plain_valid(name) == (vrn.vrn_error_kind(name) == "")


def test_reference_fields_match_the_module() -> None:
    for name in names.generate(2_000, seed=11, invalid_share=0.0):
        parsed = reference_vrn.parse(name)
        assert not isinstance(parsed, str)
        assert (
            parsed.service,
            parsed.region,
            str(parsed.org) if parsed.org else "",
            parsed.resource_type,
            str(parsed.resource_id),
        ) == (
            vrn.vrn_service(name),
            vrn.vrn_region(name),
            vrn.vrn_org(name),
            vrn.vrn_resource_type(name),
            vrn.vrn_resource_id(name),
        )
