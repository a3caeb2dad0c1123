"""`vrn check`, `canon`, `fields` and `cedar` (veltrane_vrn.cli.name_commands):
what each writes for valid and invalid names, as text and as JSON Lines."""

from __future__ import annotations

import json

import pytest
from vrn_testing.samples import BAD_ORG, BAD_SERVICE, CANONICAL, ID, NO_COLON, ORG, OVER_LONG, VALID


def test_check_reports_each_invalid_name_then_the_counts(vrn) -> None:
    status, out, err = vrn("check", VALID, BAD_SERVICE, VALID, "", BAD_ORG, NO_COLON)
    assert (status, err) == (1, "")
    assert out == (
        f"<args>:2: bad-service: {BAD_SERVICE}\n"
        "<args>:4: empty: \n"
        f"<args>:5: bad-org: {BAD_ORG}\n"
        f"<args>:6: wrong-field-count: {NO_COLON}\n"
        "checked 6 names: 2 valid, 4 invalid\n"
    )


def test_check_of_valid_names_prints_the_counts_alone(vrn) -> None:
    assert vrn("check", VALID, CANONICAL) == (0, "checked 2 names: 2 valid, 0 invalid\n", "")


def test_check_json_lines(vrn) -> None:
    status, out, _ = vrn("check", "--json", VALID, BAD_SERVICE)
    assert status == 1
    assert [json.loads(line) for line in out.splitlines()] == [
        {"source": "<args>", "line": 2, "name": BAD_SERVICE, "error": "bad-service"},
        {"checked": 2, "valid": 1, "invalid": 1},
    ]


def test_an_over_long_name_shows_its_start_and_its_length(vrn) -> None:
    shown = OVER_LONG[:64]
    status, out, _ = vrn("check", OVER_LONG)
    assert (status, out.splitlines()[0]) == (1, f"<args>:1: too-long: {shown}... (622 bytes)")
    status, out, _ = vrn("check", "--json", OVER_LONG)
    assert json.loads(out.splitlines()[0]) == {
        "source": "<args>", "line": 1, "name": shown, "name_bytes": 622, "truncated": True, "error": "too-long"
    }
    assert vrn("canon", OVER_LONG) == (1, "", f"vrn: <args>:1: too-long: {shown}... (622 bytes)\n")


NO_REGION_NO_ORG = f"vrn:vlt:object-store:::bucket/{ID}"


@pytest.mark.parametrize(
    ("argv", "text", "record"),
    [
        (["canon", VALID], CANONICAL, {"canonical": CANONICAL}),
        (["canon", NO_REGION_NO_ORG], NO_REGION_NO_ORG.lower(), {"canonical": NO_REGION_NO_ORG.lower()}),
        (
            ["fields", VALID],
            f"service=iam region=us-east-1 org={ORG.lower()} resource_type=project resource_id={ID.lower()}",
            {
                "service": "iam",
                "region": "us-east-1",
                "org": ORG.lower(),
                "resource_type": "project",
                "resource_id": ID.lower(),
            },
        ),
        (
            ["fields", NO_REGION_NO_ORG],
            f"service=object-store region= org= resource_type=bucket resource_id={ID.lower()}",
            {"service": "object-store", "region": "", "org": "", "resource_type": "bucket", "resource_id": ID.lower()},
        ),
        (
            ["cedar", VALID],
            f'Vlt::Iam::Project::"{ID.lower()}"',
            {"entity_type": "Vlt::Iam::Project", "entity_id": ID.lower()},
        ),
        (
            ["cedar", NO_REGION_NO_ORG],
            f'Vlt::ObjectStore::Bucket::"{ID.lower()}"',
            {"entity_type": "Vlt::ObjectStore::Bucket", "entity_id": ID.lower()},
        ),
    ],
)
def test_name_commands(vrn, argv: list[str], text: str, record: dict[str, str]) -> None:
    assert vrn(*argv) == (0, text + "\n", "")
    status, out, err = vrn(argv[0], "--json", *argv[1:])
    assert (status, err) == (0, "")
    assert json.loads(out) == {"source": "<args>", "line": 1, "name": argv[1], **record}


@pytest.mark.parametrize("command", ["canon", "fields", "cedar"])
def test_name_commands_report_invalid_names_and_go_on(vrn, command: str) -> None:
    status, out, err = vrn(command, BAD_SERVICE, VALID, NO_COLON)
    assert status == 1
    assert len(out.splitlines()) == 1  # the one valid name
    assert err == f"vrn: <args>:1: bad-service: {BAD_SERVICE}\nvrn: <args>:3: wrong-field-count: {NO_COLON}\n"

    status, out, err = vrn(command, "--json", BAD_SERVICE, VALID)
    assert (status, err) == (1, "")
    records = [json.loads(line) for line in out.splitlines()]
    assert records[0] == {"source": "<args>", "line": 1, "name": BAD_SERVICE, "error": "bad-service"}
    assert records[1]["line"] == 2 and "error" not in records[1]
