"""Per-call cost of every function next to its floor, in one process.

The floors are functions of the test-only module that do only what any call
of that shape must do (accept the arguments, borrow or convert them, build a
str). Run with scripts/bench, which prints each function's ratio to its floor.
"""

import os
import sys
import time
from pathlib import Path

import pytest

import veltrane_py_bindings as m
import veltrane_test_module as t
from veltrane_vrn import Vrn

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python" / "tests" / "support"))
from vrn_testing.samples import CANONICAL, CANONICAL_ID, CANONICAL_ORG, HEX  # noqa: E402
from vrn_testing.samples import VALID as UPPER_UUIDS  # noqa: E402

ID = CANONICAL_ID
VALID = CANONICAL  # 103 bytes
INVALID = VALID.replace(":project/", ":Project/")
FIELDS = ("iam", "us-east-1", CANONICAL_ORG, "project", ID)

BAD_FIELDS = ("iam", "us-east-1", CANONICAL_ORG, "project", ID[:-1])


def raising(function):
    """`function` called for an error it raises: the raising group times the
    raise and its catch, in the floor as in the module's functions."""

    def call(*args):
        try:
            function(*args)
        except ValueError as error:
            return str(error.args[0])
        raise AssertionError(f"{function.__name__} did not raise")

    call.__name__ = function.__name__
    return call


def two_queries(s):
    """The value group's reference: two per-call queries of one name."""
    return m.vrn_service(s), m.vrn_resource_id(s)


def five_queries(s):
    return m.vrn_service(s), m.vrn_region(s), m.vrn_org(s), m.vrn_resource_type(s), m.vrn_resource_id(s)


def parse_and_read_five(s):
    vrn = Vrn.parse(s)
    return vrn.service, vrn.region, vrn.org, vrn.resource_type, vrn.resource_id


# (group, name, callable, arguments); the floor of each group is named "floor".
CASES = [
    ("int2", "floor", t.floor_int2, (1, 2)),
    ("int2", "sum_as_string", m.sum_as_string, (1, 2)),
    ("text", "floor", t.floor_text, (VALID,)),
    ("text", "vrn_error_kind", m.vrn_error_kind, (VALID,)),
    ("text", "vrn_error_kind(invalid)", m.vrn_error_kind, (INVALID,)),
    ("text", "vrn_service", m.vrn_service, (VALID,)),
    ("text", "vrn_region", m.vrn_region, (VALID,)),
    ("text", "vrn_org", m.vrn_org, (VALID,)),
    ("text", "vrn_resource_type", m.vrn_resource_type, (VALID,)),
    ("text", "vrn_resource_id", m.vrn_resource_id, (VALID,)),
    ("text", "vrn_canonicalize", m.vrn_canonicalize, (VALID,)),
    ("text", "vrn_cedar_entity_type", m.vrn_cedar_entity_type, (VALID,)),
    ("text", "vrn_cedar_entity_id", m.vrn_cedar_entity_id, (VALID,)),
    ("text5", "floor", t.floor_text5, FIELDS),
    ("text5", "vrn_build", m.vrn_build, FIELDS),
    ("num_text", "floor", t.floor_num_text, (1700000000000, HEX)),
    ("num_text", "mint_uuid7", m.mint_uuid7, (1700000000000, HEX)),
    # Not a floor: a Vrn parsed once and read five times is held to less than
    # two per-call queries of the same name.
    ("value", "floor", two_queries, (VALID,)),
    ("value", "Vrn.parse + 5 fields", parse_and_read_five, (VALID,)),
    ("value", "5 queries", five_queries, (VALID,)),
    ("value", "Vrn.parse", Vrn.parse, (VALID,)),
    ("value", "Vrn()", Vrn, (VALID,)),
    ("value", "Vrn.parse(upper-case UUIDs)", Vrn.parse, (UPPER_UUIDS,)),
    ("raise", "floor", raising(t.floor_raise_text), (INVALID,)),
    ("raise", "vrn_service(invalid)", raising(m.vrn_service), (INVALID,)),
    ("raise", "vrn_canonicalize(invalid)", raising(m.vrn_canonicalize), (INVALID,)),
    ("raise", "vrn_build(invalid)", raising(m.vrn_build), BAD_FIELDS),
]


@pytest.mark.parametrize("group, name, function, args", CASES, ids=[f"{c[0]}:{c[1]}" for c in CASES])
def test_call(benchmark, group, name, function, args):
    benchmark.group = group
    benchmark.extra_info["role"] = name
    result = benchmark(function, *args)
    assert result is not None


def mint_now_module():
    return m.mint_uuid7(time.time_ns() // 1_000_000, os.urandom(10).hex())


def mint_now_uuid_utils():
    import uuid_utils

    return str(uuid_utils.uuid7())


@pytest.mark.parametrize("name, function", [("veltrane_py_bindings", mint_now_module),
                                            ("uuid_utils", mint_now_uuid_utils)])
def test_mint_now(benchmark, name, function):
    benchmark.group = "mint-now"
    benchmark.extra_info["role"] = name
    assert len(benchmark(function)) == 36
