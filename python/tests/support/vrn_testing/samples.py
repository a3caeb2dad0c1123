"""Sample names and inputs that many tests use."""

from __future__ import annotations

# A valid name with both UUIDs in upper case, so that its canonical form
# differs from it.
ORG = "6F1D2C3B-4A59-4E6F-8A7B-9C0D1E2F3A4B"
ID = "0190C3A2-7B1E-7000-8000-00000000ABCD"
VALID = f"vrn:vlt:iam:us-east-1:{ORG}:project/{ID}"
CANONICAL_ORG = ORG.lower()
CANONICAL_ID = ID.lower()
CANONICAL = VALID.lower()

# Twenty lowercase hex digits: entropy that mint_uuid7 accepts.
HEX = "0123456789abcdef0123"

# The error tokens in the order of the checks (the first failed one is reported).
TOKENS = [
    "empty", "too-long", "wrong-field-count", "bad-scheme", "bad-partition", "bad-service",
    "bad-region", "bad-org", "bad-resource-path", "bad-resource-type", "bad-resource-id",
]

# The five fields of a name, and the per-call functions that read one each.
FIELDS = ["service", "region", "org", "resource_type", "resource_id"]
FIELD_QUERIES = [f"vrn_{field}" for field in FIELDS]
# The per-call functions that render a whole name.
RENDERINGS = ["vrn_canonicalize", "vrn_cedar_entity_type", "vrn_cedar_entity_id"]

# One name per token, and valid ones with and without region and org; a null
# row (None) and a name that is not ASCII.
SAMPLES: list[str | None] = [
    VALID,
    f"vrn:vlt:k8s-cluster:::node-pool/{ID}",
    f"vrn:vlt:s3:eu-west-2::bucket/{ID.lower()}",
    "",
    "x" * 513,
    f"VRN:vlt:iam:::p/{ID}",
    f"vrn:aws:iam:::p/{ID}",
    "vrn:vlt:iam:p",
    f"vrn:vlt:Iam:::p/{ID}",
    f"vrn:vlt:iam:us_east::p/{ID}",
    f"vrn:vlt:iam::not-a-uuid:p/{ID}",
    "vrn:vlt:iam:::p",
    f"vrn:vlt:iam:::P/{ID}",
    "vrn:vlt:iam:::p/not-a-uuid",
    None,
    "vrn:vlt:iam:::p/é",
]

# Invalid names that the tests of the `vrn` command report, and one over the
# length limit (622 bytes) that the report shows by its first 64.
BAD_SERVICE = f"vrn:vlt:Iam:::project/{ID}"
BAD_ORG = f"vrn:vlt:iam::{ORG[:-1]}:project/{ID}"
NO_COLON = "just-a-word"
OVER_LONG = f"vrn:vlt:iam:::project/{'a' * 600}"
