"""The Cedar entity the module renders is what a real Cedar engine accepts."""

import pytest
from vrn_testing.engines import need

# Where the engine has no wheel (CPython 3.15 on arm64) these tests skip,
# naming it, unless VELTRANE_REQUIRE_ENGINES makes that a failure.
cedarpy = need("cedarpy")

BUCKET_ID = "0190c3a2-7b1e-7000-8000-0000000000ff"
OTHER_ID = "0190c3a2-7b1e-7000-8000-000000000001"

POLICIES = f"""
permit(principal, action, resource) when {{ resource == Vlt::ObjectStore::Bucket::"{BUCKET_ID}" }};
permit(principal, action == Action::"read", resource is Vlt::Iam::Project);
"""


@pytest.mark.parametrize(
    "name, action, decision",
    [
        (f"vrn:vlt:object-store:eu-west-2::bucket/{BUCKET_ID.upper()}", "write", "Allow"),
        (f"vrn:vlt:object-store:::bucket/{OTHER_ID}", "write", "Deny"),
        (f"vrn:vlt:iam:us-east-1:{OTHER_ID}:project/{OTHER_ID}", "read", "Allow"),
        (f"vrn:vlt:iam:us-east-1::project/{OTHER_ID}", "write", "Deny"),
        (f"vrn:vlt:object-store:::project/{OTHER_ID}", "read", "Deny"),
        (f"vrn:vlt:iam:::project-group/{BUCKET_ID}", "read", "Deny"),
    ],
)
def test_cedar_decisions_for_rendered_entities(m, name, action, decision):
    resource = f'{m.vrn_cedar_entity_type(name)}::"{m.vrn_cedar_entity_id(name)}"'
    request = {"principal": 'User::"alice"', "action": f'Action::"{action}"', "resource": resource, "context": {}}
    result = cedarpy.is_authorized(request, POLICIES, [])
    assert not result.diagnostics.errors
    assert result.decision.value == decision
