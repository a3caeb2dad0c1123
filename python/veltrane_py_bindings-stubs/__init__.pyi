"""Types of the `veltrane_py_bindings` extension module.

Every parameter is positional-or-keyword and required. A missing region or
org is the empty `str`, never `None`, as a result and as an argument of
`vrn_build`. Invalid input raises `ValueError` whose single argument is the
error token ("empty", "too-long", "bad-scheme", "bad-partition",
"wrong-field-count", "bad-service", "bad-region", "bad-org",
"bad-resource-path", "bad-resource-type", "bad-resource-id"; for `mint_uuid7`
"bad-rand-hex" or "bad-unix-ms").
"""

__all__ = [
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

def sum_as_string(a: int, b: int) -> str:
    """`a + b` as decimal text. Both must fit a signed 64-bit integer (else
    `OverflowError`); a sum outside that range wraps around."""

def vrn_canonicalize(s: str) -> str:
    """The canonical form of `s`: the same text with both UUIDs in lower case."""

def vrn_error_kind(s: str) -> str:
    """The error token of the first check `s` fails, or "" when `s` is a valid VRN."""

def vrn_build(service: str, region: str, org: str, resource_type: str, resource_id: str) -> str:
    """The canonical VRN made of the five fields ("" for no region or no org)."""

def vrn_service(s: str) -> str:
    """The service field of `s`."""

def vrn_region(s: str) -> str:
    """The region field of `s`, or "" when it has none."""

def vrn_org(s: str) -> str:
    """The org of `s` as a lowercase hyphenated UUID, or "" when it has none."""

def vrn_resource_type(s: str) -> str:
    """The resource type of `s`."""

def vrn_resource_id(s: str) -> str:
    """The resource id of `s` as a lowercase hyphenated UUID."""

def mint_uuid7(unix_ms: float, rand_hex: str) -> str:
    """A UUIDv7 from a millisecond timestamp (int or float, whole, non-negative,
    below 2**64) and 20 lowercase hex digits of entropy."""

def vrn_cedar_entity_type(s: str) -> str:
    """The Cedar entity type of `s`, e.g. "Vlt::Iam::Project"."""

def vrn_cedar_entity_id(s: str) -> str:
    """The Cedar entity id of `s`: its resource id, lowercase hyphenated."""
