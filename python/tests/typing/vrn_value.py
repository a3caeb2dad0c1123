"""Type-checked with mypy --strict by scripts/test: the Vrn value type as
callers use it. Not collected by pytest; the behaviour is test_vrn_type.py's."""

from __future__ import annotations

import copy
import pickle

from veltrane_vrn import Vrn

ID = "0190c3a2-7b1e-7000-8000-00000000abcd"


def describe(name: str) -> str:
    parsed: Vrn | None = Vrn.try_parse(name)
    if parsed is None:
        return "invalid"
    match parsed:
        case Vrn(service, region, org, resource_type, resource_id):
            fields: tuple[str, str, str, str, str] = (service, region, org, resource_type, resource_id)
            return " ".join(fields)
    return parsed.cedar_uid


def every_member() -> list[str]:
    vrn = Vrn.parse(f"vrn:vlt:iam:::project/{ID}")
    built: Vrn = Vrn.build("iam", "", "", "project", ID)
    same: bool = vrn == built and hash(vrn) == hash(built) and not vrn < built
    copies: list[Vrn] = [copy.copy(vrn), copy.deepcopy(vrn), pickle.loads(pickle.dumps(vrn)), Vrn(str(vrn))]
    names = {vrn: "project"}
    return [
        vrn.canonical, vrn.service, vrn.region, vrn.org, vrn.resource_type, vrn.resource_id,
        vrn.cedar_entity_type, vrn.cedar_entity_id, vrn.cedar_uid, repr(vrn), str(same),
        str(len(copies)), names[built], describe("x"), *Vrn.__match_args__,
    ]
