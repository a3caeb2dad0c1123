"""Differential tests: the module against the plain Python reference.

Every generated call is made on the module and on reference.py with the same
argument objects; the results (type and value) or the exceptions (type, args,
notes) must be the same. Arguments range over resource-name-shaped texts,
arbitrary text with lone surrogates, ints of every size, floats, bytes, str
subclasses, and objects whose __index__ / __float__ return odd things or raise,
the module's own PanicException among them.

VELTRANE_DIFFERENTIAL_EXAMPLES sets the examples per test (default 300); the
long run of scripts/harden raises it.
"""

import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from vrn_testing import reference

EXAMPLES = int(os.environ.get("VELTRANE_DIFFERENTIAL_EXAMPLES", "300"))
SETTINGS = settings(max_examples=EXAMPLES, deadline=None, database=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

NAMES = list(reference.PARAMETERS)
TEXT_FUNCTIONS = [n for n, p in reference.PARAMETERS.items() if p == ("s",)]


@pytest.fixture(scope="module")
def panic_types(m, t):
    """(the runtime's PanicException type, a lookalike of it made in Python)."""
    with pytest.raises(BaseException) as fault:
        t.fault_with_message("probe")
    ours = type(fault.value)  # one type for every module of the process
    assert (ours.__module__, ours.__name__) == ("veltrane_runtime", "PanicException")
    lookalike = type("PanicException", (BaseException,), {"__module__": "veltrane_runtime"})

    def resumed_by_module(kind):
        class Raises:
            def __index__(self):
                raise kind("probe")
        try:
            m.sum_as_string(Raises(), 0)
        except BaseException as error:
            return type(error) is kind and not hasattr(error, "__notes__")
        return False

    assert resumed_by_module(ours) and not resumed_by_module(lookalike)
    return ours, lookalike


# ---- argument objects -----------------------------------------------------

class Text(str):
    def __str__(self):
        raise AssertionError("__str__ of a str argument must not be called")


class Integer(int):
    def __index__(self):
        raise AssertionError("an int's own value is used")


class Real(float):
    def __float__(self):
        raise AssertionError("a float's own value is used")


class ClaimsToBeStr:
    __class__ = property(lambda self: str)  # isinstance() says str; the type does not


class Oddly:
    pass


Oddly.__qualname__ = "odd\udc80name"  # a type name without a UTF-8 form


class Hook:
    """An object whose __index__ and __float__ both run `behaviour`."""

    def __init__(self, behaviour):
        self.behaviour = behaviour

    def __index__(self):
        return self.behaviour()

    def __float__(self):
        return self.behaviour()

    def __repr__(self):
        return f"Hook({self.behaviour.__doc__})"


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"IndexOnly({self.value!r})"


class UnprintablePanicMixin:
    def __str__(self):
        raise RuntimeError("no text")


class NoteRefused(Exception):
    def add_note(self, note):
        raise RuntimeError("no notes")


def behaviour(doc, action):
    action.__doc__ = doc
    return action


def hooks(panic_type, lookalike):
    unprintable_panic = type("PanicException", (UnprintablePanicMixin, panic_type), {})
    del unprintable_panic  # a subclass is not the type: the identity check must not match it

    def raise_(make):
        def action():
            raise make()
        return action

    return st.sampled_from([
        Hook(behaviour("returns 7", lambda: 7)),
        Hook(behaviour("returns 2**70", lambda: 2**70)),
        Hook(behaviour("returns 1.5", lambda: 1.5)),
        Hook(behaviour("returns a str", lambda: "7")),
        Hook(behaviour("returns True", lambda: True)),
        Hook(behaviour("raises ValueError", raise_(lambda: ValueError("hook failed")))),
        Hook(behaviour("raises KeyboardInterrupt", raise_(lambda: KeyboardInterrupt("stop")))),
        Hook(behaviour("raises an exception refusing notes", raise_(lambda: NoteRefused("kept")))),
        Hook(behaviour("raises PanicException", raise_(lambda: panic_type("from a hook")))),
        Hook(behaviour("raises PanicException without text", raise_(lambda: panic_type()))),
        Hook(behaviour("raises PanicException with a surrogate", raise_(lambda: panic_type("x\udc80y")))),
        Hook(behaviour("raises PanicException(2 args)", raise_(lambda: panic_type("a", 2)))),
        Hook(behaviour("raises the lookalike", raise_(lambda: lookalike("not the module's")))),
        IndexOnly(-1),
        IndexOnly(2**63),
        IndexOnly(10**400),
    ])


UUIDS = st.uuids().map(str) | st.uuids().map(lambda u: str(u).upper())
FIELD_ALPHABET = "abz09-_A:/ \x00\u00e9\u20ac"


def field(examples):
    return st.sampled_from(examples) | st.text(alphabet=FIELD_ALPHABET, max_size=8)


SERVICES = field(["iam", "s3", "object-store", "k8s-cluster", "Iam", "3d", "iam-", "-iam", "iam--x", "",
                  "i\u00efm", "ia\x00m", "a"])
REGIONS = field(["", "us-east-1", "9a-b", "1", "US-east", "us_east", "us-", "us--east"])
ORGS = UUIDS | field(["", "0" * 32, "{" + "0" * 34 + "}", "00000000-0000-0000-0000-000000000000",
                      "0000000-00000-0000-0000-000000000000", "0" * 35, "0" * 37])
TYPES = field(["project", "bucket", "Project", "a", "/", "a/b", ""]) | st.integers(400, 480).map(
    lambda n: "a" * n) | st.integers(140, 170).map(lambda n: "\u20ac" * n)
IDS = UUIDS | field(["", "0" * 35, "0" * 37, "/", "g" * 36])


@st.composite
def vrn_texts(draw):
    """Mostly near-valid resource names: valid parts, some of them broken."""
    scheme = draw(st.sampled_from(["vrn", "vrn", "vrn", "VRN", "", "vrn "]))
    partition = draw(st.sampled_from(["vlt", "vlt", "vlt", "VLT", "vl"]))
    fields = [scheme, partition, draw(SERVICES), draw(REGIONS), draw(ORGS),
              draw(TYPES) + draw(st.sampled_from(["/", "/", "/", "", "//"])) + draw(IDS)]
    text = ":".join(fields)
    return draw(st.sampled_from(["", ":", ":x"])) + text if draw(st.booleans()) else text


ANY_TEXT = st.text(st.characters(exclude_categories=()), max_size=40)
TEXTS = vrn_texts() | ANY_TEXT | st.text(alphabet="vrlt:/-0a", max_size=600)


def arguments(panic_type, lookalike):
    return st.one_of(
        TEXTS, TEXTS.map(Text), st.none(), st.booleans(), st.binary(max_size=20),
        st.integers(), st.sampled_from([2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 10**400, -1]),
        st.integers().map(Integer), st.floats(), st.floats(allow_nan=False).map(Real),
        st.just(ClaimsToBeStr()), st.just(Oddly()), hooks(panic_type, lookalike),
    )


# ---- comparison -----------------------------------------------------------

def outcome_of_module(function, args, kwargs):
    try:
        result = function(*args, **kwargs)
    except BaseException as error:
        return ("raise", type(error), error.args, getattr(error, "__notes__", None))
    return ("return", type(result), result)


def outcome_of_reference(name, args, kwargs, panic_type):
    try:
        result = reference.call(name, args, kwargs, panic_type)
    except reference.ResumedPanic as resumed:
        return ("raise", panic_type, (resumed.args[0],), None)
    except BaseException as error:
        return ("raise", type(error), error.args, getattr(error, "__notes__", None))
    return ("return", type(result), result)


def agree(m, panic_types, name, args, kwargs=None):
    kwargs = kwargs or {}
    got = outcome_of_module(getattr(m, name), args, kwargs)
    expected = outcome_of_reference(name, args, kwargs, panic_types[0])
    assert got == expected, f"{name}(*{args!r}, **{kwargs!r})"


# ---- the tests ------------------------------------------------------------

@SETTINGS
@given(s=TEXTS)
def test_text_functions_agree(m, panic_types, s):
    for name in TEXT_FUNCTIONS:
        agree(m, panic_types, name, (s,))


@SETTINGS
@given(fields=st.tuples(SERVICES, REGIONS, ORGS, TYPES, IDS) | st.tuples(*[TEXTS] * 5))
def test_build_agrees(m, panic_types, fields):
    agree(m, panic_types, "vrn_build", fields)


HEX20 = st.text(alphabet="0123456789abcdef", min_size=20, max_size=20)
RAND_HEX = HEX20 | HEX20.map(str.upper) | st.text(alphabet="0123456789abcdefABG \u00e9", max_size=22)
UNIX_MS = (st.floats() | st.integers(-(2**70), 2**70) | st.integers(0, 2**49)
           | st.sampled_from([-0.0, 2.0**48, 2.0**64, 18446744073709549568.0, 5e-324, -5e-324, 2**53 + 1]))


@SETTINGS
@given(unix_ms=UNIX_MS, rand_hex=RAND_HEX)
def test_mint_agrees(m, panic_types, unix_ms, rand_hex):
    agree(m, panic_types, "mint_uuid7", (unix_ms, rand_hex))
    agree(m, panic_types, "mint_uuid7", (), {"rand_hex": rand_hex, "unix_ms": unix_ms})


INT64_EDGES = st.sampled_from([2**63 - 1, 2**63, -(2**63), -(2**63) - 1, 0, -1, 1])
INTS = st.integers() | st.integers(-(2**64), 2**64) | INT64_EDGES | INT64_EDGES.map(lambda v: v + 1)


@SETTINGS
@given(a=INTS, b=INTS)
def test_sum_agrees(m, panic_types, a, b):
    agree(m, panic_types, "sum_as_string", (a, b))


@SETTINGS
@given(data=st.data())
def test_arbitrary_arguments_and_call_shapes_agree(m, panic_types, data):
    name = data.draw(st.sampled_from(NAMES))
    parameters = reference.PARAMETERS[name]
    argument = arguments(*panic_types)
    positional = data.draw(st.lists(argument, max_size=len(parameters) + 1))
    keyword_names = st.sampled_from(parameters) | st.sampled_from(["x", "S", "\udc80", "s\udc80", "a"])
    keywords = data.draw(st.dictionaries(keyword_names, argument, max_size=3))
    agree(m, panic_types, name, tuple(positional), keywords)


@SETTINGS
@given(data=st.data())
def test_well_bound_calls_with_arbitrary_objects_agree(m, panic_types, data):
    name = data.draw(st.sampled_from(NAMES))
    argument = arguments(*panic_types)
    values = [data.draw(argument) for _ in reference.PARAMETERS[name]]
    agree(m, panic_types, name, tuple(values))
