"""The pure-Python checkers agree with the module over generated names: the
reference model (vrn_testing.reference) on every token and field, and the
plain loop of the throughput benchmark (python/benchmarks/plain_check.py)
with its single regular expression on which names are valid, so that the
benchmark compares two commands that do the same job."""

from __future__ import annotations

import sys
from collections import Counter

import pytest
import veltrane_py_bindings as vrn
from vrn_testing import ROOT, names, reference
from vrn_testing.samples import ID, TOKENS, VALID

sys.path.insert(0, str(ROOT / "python" / "benchmarks"))
import plain_check  # noqa: E402


def test_reference_agrees_with_the_module_on_a_generated_sample() -> None:
    sample = list(names.generate(20_000, seed=7))
    seen = Counter(vrn.vrn_error_kind(name) for name in sample)
    assert set(seen) == set(TOKENS) | {""}, "the sample should hit every token"
    assert 0.7 < seen[""] / len(sample) < 0.9
    disagreements = [
        (name, expected, reference.error_kind(name))
        for name in sample
        if (expected := vrn.vrn_error_kind(name)) != reference.error_kind(name)
    ]
    assert disagreements == []
    assert [name for name in sample if plain_valid(name) != (vrn.vrn_error_kind(name) == "")] == []


def plain_valid(name: str) -> bool:
    return len(name) <= plain_check.MAX_VRN_LEN and plain_check.VRN.fullmatch(name) is not None


@pytest.mark.parametrize(
    "name",
    [
        # UUID spellings that `uuid.UUID` (through `int(..., 16)`) would take:
        # the reference must not read a UUID with it.
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
    assert reference.error_kind(name) == vrn.vrn_error_kind(name)
    assert plain_valid(name) == (vrn.vrn_error_kind(name) == "")


def test_reference_fields_match_the_module() -> None:
    for name in names.generate(2_000, seed=11, invalid_share=0.0):
        assert reference.fields(name) == {
            "service": vrn.vrn_service(name),
            "region": vrn.vrn_region(name),
            "org": vrn.vrn_org(name),
            "resource_type": vrn.vrn_resource_type(name),
            "resource_id": vrn.vrn_resource_id(name),
        }
