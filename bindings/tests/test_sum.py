"""sum_as_string: 64-bit two's-complement addition rendered in decimal."""

import pytest

MIN, MAX = -(2**63), 2**63 - 1


class Index:
    def __index__(self):
        return 40


@pytest.mark.parametrize(
    "a, b, expected",
    [
        (1, 2, "3"),
        (-5, 3, "-2"),
        (0, 0, "0"),
        (-1, 0, "-1"),  # -1 without a pending exception is a value
        (-1, -1, "-2"),
        (True, 2, "3"),
        (Index(), 2, "42"),
        (MAX, 1, str(MIN)),  # wraps instead of overflowing
        (MIN, -1, str(MAX)),
        (MIN, 0, str(MIN)),
        (MAX, MAX, "-2"),
        (MIN, MIN, "0"),
    ],
)
def test_sum_wraps_in_64_bits(m, a, b, expected):
    assert m.sum_as_string(a, b) == expected


def test_sum_matches_python_modulo_2_64(m):
    values = [MIN, MIN + 1, -(2**32), -1, 0, 1, 2**31, 2**53 + 1, MAX - 1, MAX]
    for a in values:
        for b in values:
            wrapped = (a + b + 2**63) % 2**64 - 2**63
            assert m.sum_as_string(a, b) == str(wrapped)
