"""Argument binding and conversion: the exact errors every function raises."""

import pytest

from vrn_testing.samples import CANONICAL, HEX

# (call, exception type, message): binding errors carry no note.
BINDING_ERRORS = [
    (lambda m: m.vrn_org(), "vrn_org() missing 1 required positional argument: 's'"),
    (lambda m: m.sum_as_string(), "sum_as_string() missing 2 required positional arguments: 'a' and 'b'"),
    (lambda m: m.vrn_build("x"),
     "vrn_build() missing 4 required positional arguments: 'region', 'org', 'resource_type', and 'resource_id'"),
    (lambda m: m.vrn_build(region="r"),
     "vrn_build() missing 4 required positional arguments: 'service', 'org', 'resource_type', and 'resource_id'"),
    (lambda m: m.vrn_build("a", "b", resource_id="e"),
     "vrn_build() missing 2 required positional arguments: 'org' and 'resource_type'"),
    (lambda m: m.vrn_build("a", "b", resource_id="e", org="c"),
     "vrn_build() missing 1 required positional argument: 'resource_type'"),
    (lambda m: m.vrn_build(),
     "vrn_build() missing 5 required positional arguments: 'service', 'region', 'org', 'resource_type', and 'resource_id'"),
    (lambda m: m.mint_uuid7(unix_ms=0), "mint_uuid7() missing 1 required positional argument: 'rand_hex'"),
    (lambda m: m.vrn_org("a", "b"), "vrn_org() takes 1 positional arguments but 2 were given"),
    (lambda m: m.sum_as_string(1, 2, 3, x=1), "sum_as_string() takes 2 positional arguments but 3 were given"),
    (lambda m: m.vrn_org(x="a"), "vrn_org() got an unexpected keyword argument 'x'"),
    (lambda m: m.vrn_org(S="a"), "vrn_org() got an unexpected keyword argument 'S'"),
    (lambda m: m.vrn_org(t="a", s="b"), "vrn_org() got an unexpected keyword argument 't'"),
    (lambda m: m.vrn_org("a", s="b"), "vrn_org() got multiple values for argument 's'"),
    (lambda m: m.sum_as_string(1, a=2), "sum_as_string() got multiple values for argument 'a'"),
    # A bad keyword is reported before the missing parameters.
    (lambda m: m.vrn_build(colour="red"), "vrn_build() got an unexpected keyword argument 'colour'"),
    # A lone surrogate has no UTF-8 form: shown as three U+FFFD, still before "missing".
    (lambda m: m.vrn_org(**{"\udc80": "a"}), "vrn_org() got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
    (lambda m: m.vrn_org(**{"s\udc80x": "a"}), "vrn_org() got an unexpected keyword argument 's\ufffd\ufffd\ufffdx'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS, ids=[e[1][:60] for e in BINDING_ERRORS])
def test_binding_errors(m, call, message):
    with pytest.raises(TypeError) as info:
        call(m)
    assert info.type is TypeError
    assert info.value.args == (message,)
    assert not hasattr(info.value, "__notes__")


class Text(str):
    def __str__(self):  # must never be called: the str value is used
        raise AssertionError("__str__ called")


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class IndexRaises:
    def __index__(self):
        raise ValueError("no index today")


class FloatRaises:
    def __float__(self):
        raise ZeroDivisionError("no float today")


# (call, exception type, message or None, parameter named in the note)
CONVERSION_ERRORS = [
    (lambda m: m.vrn_org(None), TypeError, "'None' is not an instance of 'str'", "s"),
    (lambda m: m.vrn_org(b"x"), TypeError, "'bytes' object is not an instance of 'str'", "s"),
    (lambda m: m.vrn_org(1), TypeError, "'int' object is not an instance of 'str'", "s"),
    (lambda m: m.vrn_error_kind(CANONICAL.encode()), TypeError, "'bytes' object is not an instance of 'str'", "s"),
    (lambda m: m.vrn_org(Index(1)), TypeError, "'Index' object is not an instance of 'str'", "s"),
    (lambda m: m.vrn_org("\udc80"), UnicodeEncodeError, None, "s"),
    (lambda m: m.vrn_error_kind("\ud800" + CANONICAL), UnicodeEncodeError, None, "s"),
    (lambda m: m.vrn_build(1, 2, 3, 4, 5), TypeError, "'int' object is not an instance of 'str'", "service"),
    (lambda m: m.vrn_build("iam", "", None, "p", "x"), TypeError, "'None' is not an instance of 'str'", "org"),
    (lambda m: m.vrn_build("iam", 7, None, "p", "x"), TypeError, "'int' object is not an instance of 'str'", "region"),
    (lambda m: m.sum_as_string(1.5, 2), TypeError, None, "a"),
    (lambda m: m.sum_as_string("1", 2), TypeError, None, "a"),
    (lambda m: m.sum_as_string(1, 2.0), TypeError, None, "b"),
    (lambda m: m.sum_as_string("x", "y"), TypeError, None, "a"),
    (lambda m: m.sum_as_string(2**63, 0), OverflowError, None, "a"),
    (lambda m: m.sum_as_string(0, -(2**63) - 1), OverflowError, None, "b"),
    (lambda m: m.sum_as_string(IndexRaises(), 0), ValueError, "no index today", "a"),
    (lambda m: m.mint_uuid7("0", HEX), TypeError, None, "unix_ms"),
    (lambda m: m.mint_uuid7("0", 5), TypeError, None, "unix_ms"),
    (lambda m: m.mint_uuid7(10**400, HEX), OverflowError, None, "unix_ms"),
    (lambda m: m.mint_uuid7(FloatRaises(), HEX), ZeroDivisionError, "no float today", "unix_ms"),
    (lambda m: m.mint_uuid7(0, b"0123456789abcdef0123"), TypeError, "'bytes' object is not an instance of 'str'", "rand_hex"),
    (lambda m: m.mint_uuid7(0, "\udfff" * 20), UnicodeEncodeError, None, "rand_hex"),
]


@pytest.mark.parametrize("call, kind, message, parameter", CONVERSION_ERRORS)
def test_conversion_errors_carry_the_parameter_note(m, call, kind, message, parameter):
    with pytest.raises(BaseException) as info:
        call(m)
    assert info.type is kind
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{parameter}'"]


def test_existing_notes_are_kept_and_ours_appended(m):
    class Noted:
        def __index__(self):
            error = ValueError("bad")
            error.add_note("first")
            raise error

    with pytest.raises(ValueError) as info:
        m.sum_as_string(0, Noted())
    assert info.value.__notes__ == ["first", "while processing 'b'"]


def test_failing_add_note_drops_only_the_note(m):
    class Stubborn(Exception):
        def add_note(self, note):
            raise RuntimeError("no notes here")

    class Raises:
        def __index__(self):
            raise Stubborn("kept")

    with pytest.raises(Stubborn) as info:
        m.sum_as_string(Raises(), 0)
    assert str(info.value) == "kept"
    assert not hasattr(info.value, "__notes__")


def test_str_subclass_is_read_as_its_value_without_calling_str(m):
    assert m.vrn_service(Text(CANONICAL)) == "iam"
    assert m.vrn_build(Text("iam"), Text(""), Text(""), Text("p"), Text(CANONICAL[-36:])) == (
        "vrn:vlt:iam:::p/" + CANONICAL[-36:]
    )
    assert m.mint_uuid7(0, Text(HEX)) == "00000000-0000-7123-8567-89abcdef0123"


def test_keywords_bind_in_any_order(m):
    fields = dict(service="iam", region="us-east-1", org="", resource_type="project", resource_id=CANONICAL[-36:])
    positional = m.vrn_build(*fields.values())
    assert m.vrn_build(**dict(reversed(fields.items()))) == positional
    assert m.vrn_build("iam", "us-east-1", resource_id=CANONICAL[-36:], resource_type="project", org="") == positional
    assert m.sum_as_string(b=2, a=1) == "3"
    assert m.mint_uuid7(rand_hex=HEX, unix_ms=0) == m.mint_uuid7(0, HEX)
    assert m.vrn_service(s=CANONICAL) == m.vrn_service(CANONICAL)


def test_later_arguments_are_not_examined_after_a_failure(m):
    touched = []

    class Spy:
        def __index__(self):
            touched.append("b")
            return 1

    with pytest.raises(TypeError):
        m.sum_as_string("x", Spy())
    assert touched == []
