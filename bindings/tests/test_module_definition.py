"""The module object: its name, documentation, `__all__` and function objects."""

import importlib
import inspect
import sys

import pytest

NAMES = [
    "sum_as_string",
    "vrn_canonicalize",
    "vrn_error_kind",
    "vrn_build",
    "vrn_service",
    "vrn_region",
    "vrn_org",
    "vrn_resource_type",
    "vrn_resource_id",
    "mint_uuid7",
    "vrn_cedar_entity_type",
    "vrn_cedar_entity_id",
]

MODULE_DOC = (
    "The extension module. Its name is provisional \u2014 it will be reconciled with the\n"
    "`veltrane-kernel-py` wrapper when the wheel-integration issue lands."
)

# (function, text signature, __doc__): the docstrings are part of the contract.
DOCS = [
    ("sum_as_string", "(a, b)",
     "Python-callable wrapper over [`veltrane_kernel::sum`], returning the result as a string\n"
     "(the canonical first-binding shape \u2014 a real value crossing the FFI boundary)."),
    ("vrn_canonicalize", "(s)",
     "Parse `s` and return its canonical form, or raise `ValueError(kind)` on an invalid VRN."),
    ("vrn_error_kind", "(s)",
     'Return the stable `VrnError::kind()` token for an invalid VRN, or `""` if `s` parses.'),
    ("vrn_build", "(service, region, org, resource_type, resource_id)",
     "Build a VRN from typed fields and return its canonical form, or raise `ValueError(kind)`."),
    ("vrn_service", "(s)", "Parse `s` and return its service field, or raise `ValueError(kind)`."),
    ("vrn_region", "(s)", "Parse `s` and return its region field, or raise `ValueError(kind)`."),
    ("vrn_org", "(s)",
     'Parse `s` and return its org field (hyphenated UUID, or `""` if absent), or raise '
     "`ValueError(kind)`."),
    ("vrn_resource_type", "(s)",
     "Parse `s` and return its resource-type field, or raise `ValueError(kind)`."),
    ("vrn_resource_id", "(s)",
     "Parse `s` and return its resource-id field (hyphenated UUID), or raise `ValueError(kind)`."),
    ("mint_uuid7", "(unix_ms, rand_hex)",
     "Mint a UUIDv7 from an injected millisecond timestamp and a 20-char lowercase hex string of\n"
     'entropy (raises `ValueError("bad-rand-hex")` if `rand_hex` is malformed, or\n'
     '`ValueError("bad-unix-ms")` if `unix_ms` is not finite/non-negative/integral).'),
    ("vrn_cedar_entity_type", "(s)",
     "Parse `s` and return its Cedar entity type (e.g. `Vlt::Iam::Project`), or raise "
     "`ValueError(kind)`."),
    ("vrn_cedar_entity_id", "(s)",
     "Parse `s` and return its Cedar entity id, or raise `ValueError(kind)`."),
]


def test_all_lists_the_twelve_functions_in_registration_order(m):
    assert type(m.__all__) is list
    assert m.__all__ == NAMES
    assert m.__doc__ == MODULE_DOC
    assert m.__name__ == "veltrane_py_bindings"


def test_namespace_order_all_first_then_functions(m):
    keys = list(vars(m))
    tail = keys[keys.index("__all__"):]
    assert tail[0] == "__all__"
    assert [k for k in tail[1:] if not k.startswith("__")] == NAMES


@pytest.mark.parametrize("name, signature, doc", DOCS, ids=[d[0] for d in DOCS])
def test_docstrings_and_signatures(m, name, signature, doc):
    function = getattr(m, name)
    assert function.__name__ == name
    assert function.__module__ == "veltrane_py_bindings"
    assert function.__text_signature__ == signature
    assert function.__doc__ == doc
    parameters = inspect.signature(function).parameters.values()
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty for p in parameters)


def test_panic_exception_is_not_exported(m):
    assert not hasattr(m, "PanicException")


def test_reimport_makes_new_module_functions_and_all(m):
    first = sys.modules.pop("veltrane_py_bindings")
    try:
        second = importlib.import_module("veltrane_py_bindings")
        assert second is not first
        assert second.__all__ == NAMES and second.__all__ is not first.__all__
        for name in NAMES:
            assert getattr(second, name) is not getattr(first, name)
        assert second.sum_as_string(1, 2) == "3"
    finally:
        sys.modules["veltrane_py_bindings"] = first
