"""The six queries: one field of a VRN, or why it is not one."""

import pytest

from vrn_testing.samples import CANONICAL, CANONICAL_ID, CANONICAL_ORG, FIELD_QUERIES

UPPER = f"vrn:vlt:iam:us-east-1:{CANONICAL_ORG.upper()}:project/{CANONICAL_ID.upper()}"
BARE = f"vrn:vlt:s3:::bucket/{CANONICAL_ID}"

# (text, service, region, org, resource type, resource id)
VALID_NAMES = [
    (CANONICAL, "iam", "us-east-1", CANONICAL_ORG, "project", CANONICAL_ID),
    (UPPER, "iam", "us-east-1", CANONICAL_ORG, "project", CANONICAL_ID),  # UUIDs come back lowercase
    (BARE, "s3", "", "", "bucket", CANONICAL_ID),  # empty region and absent org are ""
    (f"vrn:vlt:k8s-cluster:9a-b::node-pool/{'0' * 8}-0000-0000-0000-{'0' * 12}",
     "k8s-cluster", "9a-b", "", "node-pool", "00000000-0000-0000-0000-000000000000"),
]


@pytest.mark.parametrize("text, fields", [(case[0], list(case[1:])) for case in VALID_NAMES])
def test_fields_of_valid_names(m, text, fields):
    assert [getattr(m, f)(text) for f in FIELD_QUERIES] == fields
    assert m.vrn_error_kind(text) == ""


# (text, token): byte lengths, not characters, count.
INVALID_NAMES = [
    ("", "empty"),
    ("a" * 513, "too-long"),
    ("\u00e9" * 300, "too-long"),  # 300 characters, 600 bytes
    ("\u20ac" * 171, "too-long"),  # 171 characters, 513 bytes
    ("no colons at all", "wrong-field-count"),
    (CANONICAL + ":", "wrong-field-count"),
    (":" + CANONICAL, "wrong-field-count"),
    ("VRN" + CANONICAL[3:], "bad-scheme"),
    ("vrn:VLT" + CANONICAL[7:], "bad-partition"),
    (CANONICAL.replace("iam", "i\x00m", 1), "bad-service"),  # a NUL reaches the parser
    (CANONICAL.replace("iam", "\u00efam", 1), "bad-service"),
    (CANONICAL.replace("us-east-1", "US-east"), "bad-region"),
    (CANONICAL.replace(CANONICAL_ORG, CANONICAL_ORG.replace("-", "")), "bad-org"),
    (CANONICAL.replace("project/", "project//"), "bad-resource-path"),
    (CANONICAL.replace("project", "Project"), "bad-resource-type"),
    (CANONICAL[:-1], "bad-resource-id"),  # a 35-byte resource id
    (CANONICAL[:-1] + "\u00e9", "bad-resource-id"),  # 36 characters, 37 bytes
]


@pytest.mark.parametrize("text, token", INVALID_NAMES)
def test_invalid_names_report_the_first_failed_check(m, text, token):
    assert m.vrn_error_kind(text) == token
    for query in FIELD_QUERIES:
        with pytest.raises(ValueError) as info:
            getattr(m, query)(text)
        assert type(info.value) is ValueError
        assert info.value.args == (token,)
        assert not hasattr(info.value, "__notes__")


def test_the_longest_name_is_512_bytes(m):
    head = f"vrn:vlt:a:::"
    name = head + "a" * (512 - len(head) - 37) + "/" + CANONICAL_ID
    assert len(name.encode()) == 512
    assert m.vrn_error_kind(name) == "" and m.vrn_service(name) == "a"
    assert m.vrn_error_kind(name[:12] + "a" + name[12:]) == "too-long"


def test_non_str_input_raises_type_error_even_for_error_kind(m):
    for bad in (None, CANONICAL.encode(), 5, bytearray(b"x")):
        with pytest.raises(TypeError) as info:
            m.vrn_error_kind(bad)
        assert info.value.__notes__ == ["while processing 's'"]


def test_results_are_fresh_str_objects(m):
    class Name(str):
        pass

    service = m.vrn_service(Name(CANONICAL))
    assert type(service) is str and service == "iam"
    assert m.vrn_service(CANONICAL) == m.vrn_service(CANONICAL)  # nothing carries over between calls
