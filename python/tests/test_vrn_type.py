"""`veltrane_vrn.Vrn` against the module's per-call functions: one parse must
give exactly what the functions give one question at a time."""

import copy
import os
import pickle
import uuid

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import veltrane_py_bindings as m
from veltrane_vrn import Vrn
from vrn_testing.samples import CANONICAL, ID, ORG, VALID
from vrn_testing.session import SLOW_MACHINE


identifiers = st.from_regex(r"\A[a-z][a-z0-9]{0,8}(-[a-z][a-z0-9]{0,4}){0,3}\Z")
regions = st.one_of(st.just(""), st.from_regex(r"\A[a-z0-9]{1,5}(-[a-z0-9]{1,5}){0,3}\Z"))
uuids = st.builds(lambda n, upper: str(uuid.UUID(int=n)).upper() if upper else str(uuid.UUID(int=n)),
                  st.integers(0, 2**128 - 1), st.booleans())
fields = st.tuples(identifiers, regions, st.one_of(st.just(""), uuids), identifiers, uuids)

# Under a memory tool or on an emulated processor hypothesis must not judge
# the speed of generation or of a test.
relaxed = settings(suppress_health_check=list(HealthCheck) if SLOW_MACHINE else [],
                   deadline=None if SLOW_MACHINE else 200,
                   max_examples=int(os.environ.get("VELTRANE_HYPOTHESIS_EXAMPLES", "100")))


def join(service, region, org, resource_type, resource_id):
    return f"vrn:vlt:{service}:{region}:{org}:{resource_type}/{resource_id}"


def mutated(text, edits):
    for position, action, char in edits:
        i = position % (len(text) + 1)
        if action == "insert":
            text = text[:i] + char + text[i:]
        elif action == "delete":
            text = text[:i] + text[i + 1:]
        else:
            text = text[:i] + char + text[i + 1:]
    return text


edits = st.lists(st.tuples(st.integers(0, 200), st.sampled_from(["insert", "delete", "replace"]),
                           st.sampled_from(list(":/-aZF0\x00\u00e9 "))), max_size=3)
texts = st.one_of(st.builds(lambda parts, e: mutated(join(*parts), e), fields, edits), st.text(max_size=80))


def per_call_answers(text):
    return {
        "canonical": m.vrn_canonicalize(text),
        "service": m.vrn_service(text),
        "region": m.vrn_region(text),
        "org": m.vrn_org(text),
        "resource_type": m.vrn_resource_type(text),
        "resource_id": m.vrn_resource_id(text),
        "cedar_entity_type": m.vrn_cedar_entity_type(text),
        "cedar_entity_id": m.vrn_cedar_entity_id(text),
    }


@given(fields)
@relaxed
def test_every_attribute_is_the_per_call_answer(parts):
    text = join(*parts)
    vrn = Vrn.parse(text)
    answers = per_call_answers(text)
    assert {name: getattr(vrn, name) for name in answers} == answers
    assert vrn.cedar_uid == f'{answers["cedar_entity_type"]}::"{answers["cedar_entity_id"]}"'
    assert str(vrn) == answers["canonical"] and repr(vrn) == f"Vrn({answers['canonical']!r})"
    # Every way to make one gives the same value.
    assert Vrn(text) == Vrn.try_parse(text) == Vrn.build(*parts) == Vrn.parse(answers["canonical"]) == vrn
    assert pickle.loads(pickle.dumps(vrn)) == vrn


@given(texts)
@relaxed
def test_invalid_exactly_when_the_module_gives_a_token(text):
    token = m.vrn_error_kind(text)
    parsed = Vrn.try_parse(text)
    assert (parsed is None) == (token != "")
    if token:
        for make in (Vrn.parse, Vrn):
            with pytest.raises(ValueError) as raised:
                make(text)
            assert raised.value.args == (token,)
    else:
        assert parsed == Vrn.parse(text) and parsed.canonical == m.vrn_canonicalize(text)


@given(st.tuples(*[st.one_of(st.text(max_size=12), identifiers, uuids) for _ in range(5)]))
@relaxed
def test_build_mirrors_vrn_build(parts):
    try:
        expected = m.vrn_build(*parts)
    except ValueError as error:
        with pytest.raises(ValueError) as raised:
            Vrn.build(*parts)
        assert raised.value.args == error.args
    else:
        built = Vrn.build(*parts)
        assert built.canonical == expected and built == Vrn.parse(expected)


def test_equality_hash_and_order_are_those_of_the_canonical_text():
    upper, lower = Vrn(VALID), Vrn(CANONICAL)
    assert upper == lower and hash(upper) == hash(lower) and len({upper, lower}) == 1
    # Never equal to a str, not even its own canonical text.
    assert upper != CANONICAL and CANONICAL != upper and {upper: 1}.get(CANONICAL) is None
    names = [join(s, "", "", "t", str(uuid.UUID(int=i))) for s, i in [("b", 2), ("a", 9), ("a-b", 1), ("a", 1)]]
    assert [v.canonical for v in sorted(map(Vrn, names))] == sorted(names)
    assert max(map(Vrn, names)).service == "b"
    with pytest.raises(TypeError):
        _ = upper < CANONICAL


def test_an_immutable_value_that_copies_and_pickles_to_itself():
    vrn = Vrn(VALID)
    assert copy.copy(vrn) is vrn and copy.deepcopy(vrn) is vrn
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        restored = pickle.loads(pickle.dumps(vrn, protocol))
        assert type(restored) is Vrn and restored == vrn and restored.org == ORG.lower()
    for name in ("service", "canonical", "cedar_uid", "anything"):
        with pytest.raises(AttributeError):
            setattr(vrn, name, "x")
    with pytest.raises(TypeError):
        type("Sub", (Vrn,), {})


def test_pattern_matching_by_position_and_by_keyword():
    match Vrn(f"vrn:vlt:s3:::bucket/{ID}"):
        case Vrn("s3", "", "", resource_type, resource_id):
            assert (resource_type, resource_id) == ("bucket", ID.lower())
        case _:
            pytest.fail("no match")
    match Vrn(VALID):
        case Vrn(service="iam", org=org) if org:
            assert org == ORG.lower()
        case _:
            pytest.fail("no match")


class Text(str):
    def __str__(self):
        raise AssertionError("__str__ must not be called")


@pytest.mark.parametrize("argument, error, note", [
    (None, "'None' is not an instance of 'str'", "while processing 's'"),
    (b"vrn", "'bytes' object is not an instance of 'str'", "while processing 's'"),
    (5, "'int' object is not an instance of 'str'", "while processing 's'"),
])
def test_wrong_types_are_type_errors_naming_s(argument, error, note):
    for make in (Vrn, Vrn.parse, Vrn.try_parse):
        with pytest.raises(TypeError) as raised:
            make(argument)
        assert str(raised.value) == error and raised.value.__notes__ == [note]


def test_a_str_subclass_is_read_as_the_text_it_holds():
    vrn = Vrn.parse(Text(CANONICAL))
    assert vrn == Vrn(CANONICAL) and type(vrn.canonical) is str and type(str(vrn)) is str


def test_binding_errors_name_the_method():
    with pytest.raises(TypeError, match=r"Vrn\.parse\(\) missing 1 required positional argument: 's'"):
        Vrn.parse()
    with pytest.raises(TypeError, match=r"Vrn\.build\(\) missing 4 required positional arguments"):
        Vrn.build("iam")
    assert Vrn.parse(s=VALID) == Vrn(s=VALID) == Vrn.try_parse(s=VALID)
    assert Vrn.build(service="iam", region="", org="", resource_type="project", resource_id=ID).region == ""


def test_fields_stay_right_when_names_share_and_evict_shared_field_strs():
    # Far more distinct services and types than the table of shared strs
    # holds, interleaved with repeats.
    names = [join(f"s{i % 300}", f"r{i % 7}", "", f"t{i % 500}", str(uuid.UUID(int=i))) for i in range(3000)]
    vrns = [Vrn(name) for name in names]
    for i, vrn in enumerate(vrns):
        assert (vrn.service, vrn.region, vrn.resource_type) == (f"s{i % 300}", f"r{i % 7}", f"t{i % 500}")
