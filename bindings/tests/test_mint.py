"""mint_uuid7: deterministic UUIDv7s from an injected time and entropy."""

import math
import sys
import uuid

import pytest
from vrn_testing.samples import HEX

SMALLEST_SUBNORMAL = 5e-324

VECTORS = [
    (0, HEX, "00000000-0000-7123-8567-89abcdef0123"),
    (0.0, HEX, "00000000-0000-7123-8567-89abcdef0123"),
    (True, HEX, "00000000-0001-7123-8567-89abcdef0123"),
    (-0.0, "fedcba9876543210fedc", "00000000-0000-7edc-ba98-76543210fedc"),
    (1700000000000.0, "ffffffffffffffffffff", "018bcfe5-6800-7fff-bfff-ffffffffffff"),
    (1700000000000, "00000000000000000000", "018bcfe5-6800-7000-8000-000000000000"),
    (2**48 - 1, HEX, "ffffffff-ffff-7123-8567-89abcdef0123"),
    (2**48, HEX, "00000000-0000-7123-8567-89abcdef0123"),  # wraps, no error
    (18446744073709549568.0, HEX, "ffffffff-f800-7123-8567-89abcdef0123"),  # largest below 2**64
    (0, "f123456789abcdef0123", "00000000-0000-7123-8567-89abcdef0123"),  # digit 0 is dropped
    (0, "0123c56789abcdef0123", "00000000-0000-7123-8567-89abcdef0123"),  # and the top of digit 4
]


@pytest.mark.parametrize("unix_ms, rand_hex, expected", VECTORS)
def test_vectors(m, unix_ms, rand_hex, expected):
    assert m.mint_uuid7(unix_ms, rand_hex) == expected


@pytest.mark.parametrize(
    "unix_ms, rand_hex, token",
    [
        (math.nan, HEX, "bad-unix-ms"),
        (math.inf, HEX, "bad-unix-ms"),
        (-math.inf, HEX, "bad-unix-ms"),
        (-1, HEX, "bad-unix-ms"),  # -1 converts without an exception pending
        (-1.0, HEX, "bad-unix-ms"),
        (-0.5, HEX, "bad-unix-ms"),
        (1.5, HEX, "bad-unix-ms"),
        (SMALLEST_SUBNORMAL, HEX, "bad-unix-ms"),
        (-SMALLEST_SUBNORMAL, HEX, "bad-unix-ms"),
        (2.0**64, HEX, "bad-unix-ms"),
        (2**64, HEX, "bad-unix-ms"),
        (sys.float_info.max, HEX, "bad-unix-ms"),
        (0, HEX[:-1], "bad-rand-hex"),
        (0, HEX + "4", "bad-rand-hex"),
        (0, "0123456789ABCDEF0123", "bad-rand-hex"),
        (0, "0123456789abcdef012 ", "bad-rand-hex"),
        (0, "0123456789abcdef012\u00e9"[:20], "bad-rand-hex"),  # 20 characters, 21 bytes
        (0, "0123456789abcdef01g3", "bad-rand-hex"),
        (0, "", "bad-rand-hex"),
        (math.nan, "0123456789ABCDEF0123", "bad-rand-hex"),  # digits are checked first
    ],
)
def test_invalid_inputs(m, unix_ms, rand_hex, token):
    with pytest.raises(ValueError) as info:
        m.mint_uuid7(unix_ms, rand_hex)
    assert type(info.value) is ValueError and info.value.args == (token,)


def test_ints_round_to_the_nearest_double_first(m):
    assert m.mint_uuid7(2**53 + 1, HEX) == m.mint_uuid7(2**53, HEX)
    with pytest.raises(ValueError) as info:
        m.mint_uuid7(2**64 - 1, HEX)  # rounds up to 2.0**64, which is out of range
    assert info.value.args == ("bad-unix-ms",)


def test_float_and_index_objects_convert(m):
    class F:
        def __float__(self):
            return 5.0

    class I:
        def __index__(self):
            return 5

    assert m.mint_uuid7(F(), HEX) == m.mint_uuid7(I(), HEX) == m.mint_uuid7(5, HEX)


@pytest.mark.parametrize("unix_ms", [0, 1, 1700000000000, 2**48 - 1, 2**48 + 5, 2**60])
def test_results_are_rfc_version_7(m, unix_ms):
    text = m.mint_uuid7(unix_ms, "fedcba9876543210fedc")
    parsed = uuid.UUID(text)
    assert str(parsed) == text
    assert parsed.version == 7 and parsed.variant == uuid.RFC_4122
    assert parsed.int >> 80 == unix_ms % 2**48
