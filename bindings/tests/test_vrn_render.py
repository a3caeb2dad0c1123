"""Canonical form, building from fields, and the Cedar entity of a VRN."""

import pytest

from vrn_testing.samples import CANONICAL, CANONICAL_ID, CANONICAL_ORG, RENDERINGS


@pytest.mark.parametrize(
    "text, canonical",
    [
        (CANONICAL, CANONICAL),
        (f"vrn:vlt:iam:us-east-1:{CANONICAL_ORG.upper()}:project/{CANONICAL_ID.upper()}", CANONICAL),
        (f"vrn:vlt:s3:::bucket/{CANONICAL_ID.upper()}", f"vrn:vlt:s3:::bucket/{CANONICAL_ID}"),
    ],
)
def test_canonical_form_lowercases_only_the_uuids(m, text, canonical):
    assert m.vrn_canonicalize(text) == canonical
    assert m.vrn_canonicalize(canonical) == canonical


@pytest.mark.parametrize(
    "service, resource_type, entity_type",
    [
        ("iam", "project", "Vlt::Iam::Project"),
        ("object-store", "bucket", "Vlt::ObjectStore::Bucket"),
        ("k8s-cluster", "node-pool", "Vlt::K8sCluster::NodePool"),
        ("s3", "a1-b2-c3", "Vlt::S3::A1B2C3"),
    ],
)
def test_cedar_entity(m, service, resource_type, entity_type):
    for region, org in [("", ""), ("us-east-1", CANONICAL_ORG)]:
        text = f"vrn:vlt:{service}:{region}:{org}:{resource_type}/{CANONICAL_ID.upper()}"
        assert m.vrn_cedar_entity_type(text) == entity_type
        assert m.vrn_cedar_entity_id(text) == CANONICAL_ID


BUILD_CASES = [
    (("iam", "us-east-1", "", "project", CANONICAL_ID), f"vrn:vlt:iam:us-east-1::project/{CANONICAL_ID}"),
    (("iam", "us-east-1", "", "project", CANONICAL_ID.upper()), f"vrn:vlt:iam:us-east-1::project/{CANONICAL_ID}"),
    (("iam", "", CANONICAL_ORG.upper(), "project", CANONICAL_ID), f"vrn:vlt:iam::{CANONICAL_ORG}:project/{CANONICAL_ID}"),
    (("iam:x", "", "", "project", CANONICAL_ID), "wrong-field-count"),
    (("iam", "", "", "a/b", CANONICAL_ID), "bad-resource-path"),
    (("iam", "", "", "p", CANONICAL_ID + "/x"), "bad-resource-path"),
    (("i/am", "", "", "p", CANONICAL_ID), "bad-service"),
    (("iam", "us/1", "", "p", CANONICAL_ID), "bad-region"),
    (("iam", "", "x/y", "p", CANONICAL_ID), "bad-org"),
    (("Iam", "", "", "p", CANONICAL_ID), "bad-service"),
    (("", "", "", "p", CANONICAL_ID), "bad-service"),
    (("iam", "", "", "", CANONICAL_ID), "bad-resource-type"),
    (("iam", "", "", "p", ""), "bad-resource-id"),
    (("", "", "", "", ""), "bad-service"),  # never "empty": the template is never empty
    (("a", "", "", "a" * 463, CANONICAL_ID), "vrn:vlt:a:::" + "a" * 463 + "/" + CANONICAL_ID),  # 512 bytes
    (("a", "", "", "a" * 464, CANONICAL_ID), "too-long"),  # 513 bytes
    (("\u00e9" * 250, "", "", "p", CANONICAL_ID), "too-long"),  # 500 characters of bytes
]


@pytest.mark.parametrize("fields, expected", BUILD_CASES)
def test_build(m, fields, expected):
    joined = "vrn:vlt:{}:{}:{}:{}/{}".format(*fields)
    if expected.startswith("vrn:"):
        assert m.vrn_build(*fields) == expected
        assert m.vrn_canonicalize(joined) == expected
    else:
        with pytest.raises(ValueError) as info:
            m.vrn_build(*fields)
        assert info.value.args == (expected,)
        assert m.vrn_error_kind(joined) == expected  # the joined text's own token


@pytest.mark.parametrize("text", ["", CANONICAL + ":", "vrn:vlt:iam:US::p/x", CANONICAL[:-2]])
def test_invalid_text_raises_the_same_token_everywhere(m, text):
    token = m.vrn_error_kind(text)
    for rendering in RENDERINGS:
        with pytest.raises(ValueError) as info:
            getattr(m, rendering)(text)
        assert info.value.args == (token,)
