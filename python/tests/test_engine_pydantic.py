"""`Vrn` as a pydantic field type: parsed once, its token as the error type,
its canonical text out, its JSON schema's pattern true to the parser; a
FastAPI app answering 422 with the token. And importing veltrane_vrn imports
no engine and not pydantic."""

from __future__ import annotations

import json
import re
import subprocess
import sys
from typing import Annotated, Any

import pytest
import veltrane_py_bindings as per_call
from hypothesis import given, settings, strategies as st
from vrn_testing import names as generated
from vrn_testing.engines import need
from vrn_testing.samples import CANONICAL, SAMPLES, VALID

from veltrane_vrn import Vrn

pydantic = need("pydantic")
from veltrane_vrn.pydantic import MAX_LENGTH, PATTERN  # noqa: E402


class Request(pydantic.BaseModel):  # type: ignore[misc]
    resource: Vrn
    parent: Vrn | None = None
    others: list[Vrn] = []


def test_importing_the_package_imports_no_engine_and_not_pydantic() -> None:
    code = ("import sys, veltrane_vrn, veltrane_vrn.columns; from veltrane_vrn import Vrn; "
            "print(sorted(m for m in sys.modules if m.split('.')[0] in "
            "('pydantic', 'pydantic_core', 'polars', 'duckdb', 'pandas', 'pyarrow', 'dask', 'pyspark', 'fastapi')))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert done.stdout.strip() == "[]"


def test_a_str_is_parsed_once_and_a_vrn_passes_as_it_is() -> None:
    request = Request(resource=VALID, others=[CANONICAL, Vrn(VALID)])
    assert request.resource == Vrn(VALID) and isinstance(request.resource, Vrn)
    assert request.others == [Vrn(VALID)] * 2
    given_vrn = Vrn(VALID)
    assert Request(resource=given_vrn).resource is given_vrn
    assert Request.model_validate_json(json.dumps({"resource": VALID})).resource == given_vrn


def test_it_serialises_to_the_canonical_text_in_python_and_json_mode() -> None:
    request = Request(resource=VALID, parent=VALID)
    assert request.model_dump() == {"resource": CANONICAL, "parent": CANONICAL, "others": []}
    assert json.loads(request.model_dump_json()) == {"resource": CANONICAL, "parent": CANONICAL, "others": []}
    assert Request.model_validate_json(request.model_dump_json()) == request


@pytest.mark.parametrize("name", [s for s in SAMPLES if s is not None and per_call.vrn_error_kind(s)])
@pytest.mark.parametrize("mode", ["python", "json"])
def test_an_invalid_name_is_an_error_typed_by_its_token(name: str, mode: str) -> None:
    token = per_call.vrn_error_kind(name)
    with pytest.raises(pydantic.ValidationError) as raised:
        if mode == "python":
            Request(resource=VALID, others=[VALID, name])
        else:
            Request.model_validate_json(json.dumps({"resource": VALID, "others": [VALID, name]}))
    [error] = raised.value.errors()
    assert error["type"] == "vrn_" + token.replace("-", "_")
    assert error["ctx"] == {"token": token}
    assert error["loc"] == ("others", 1)
    assert token in error["msg"]


@pytest.mark.parametrize("value", [5, None, b"vrn", ["x"]])
def test_what_is_not_a_string_is_pydantics_own_string_type_error(value: Any) -> None:
    with pytest.raises(pydantic.ValidationError) as raised:
        Request(resource=value)
    assert [e["type"] for e in raised.value.errors()] == ["string_type"]
    with pytest.raises(pydantic.ValidationError) as raised:
        Request.model_validate_json(json.dumps({"resource": value if not isinstance(value, bytes) else 5}))
    assert [e["type"] for e in raised.value.errors()] == ["string_type"]


def test_the_json_schema_is_a_string_with_the_pattern() -> None:
    for mode in ("validation", "serialization"):
        schema = Request.model_json_schema(mode=mode)["properties"]["resource"]
        assert schema == {"type": "string", "pattern": PATTERN, "maxLength": MAX_LENGTH, "title": "Resource"}


# The pattern describes the grammar: it must accept exactly what the parser
# accepts (with the length limit), on the samples and on generated names, in
# Python's regular expressions and in pydantic's own.
PatternStr = Annotated[str, pydantic.StringConstraints(pattern=PATTERN, max_length=MAX_LENGTH)]
pattern_adapter = pydantic.TypeAdapter(PatternStr)


def matches(name: str) -> bool:
    by_python = re.fullmatch(PATTERN, name) is not None and len(name) <= MAX_LENGTH
    try:
        pattern_adapter.validate_python(name)
        by_pydantic = True
    except pydantic.ValidationError:
        by_pydantic = False
    assert by_python == by_pydantic, name
    return by_python


def test_the_pattern_accepts_what_the_parser_accepts_on_samples_and_generated_names() -> None:
    names = [s for s in SAMPLES if s is not None] + list(generated.generate(3_000, seed=7))
    names += [VALID + "\n", VALID + "\r", " " + VALID, VALID.replace("us-east-1", "us-east-1-"),
              "vrn:vlt:" + "a" * 440 + ":::p/" + CANONICAL[-36:], "vrn:vlt:" + "a" * 480 + ":::p/" + CANONICAL[-36:]]
    assert sum(per_call.vrn_error_kind(n) == "" for n in names) > 2_000
    for name in names:
        assert matches(name) == (per_call.vrn_error_kind(name) == ""), name


@settings(max_examples=300, deadline=None)
@given(st.lists(st.sampled_from(["vrn", "vlt", ":", "/", "-", "iam", "a1", "1", "A", "0190c3a2", "7b1e",
                                 "00000000abcd", "0190C3A2-7B1E-7000-8000-00000000ABCD", "é", "\n", ""]),
                max_size=24))
def test_the_pattern_accepts_what_the_parser_accepts_on_pieces_put_together(pieces: list[str]) -> None:
    name = "".join(pieces)
    assert matches(name) == (per_call.vrn_error_kind(name) == "")


def test_a_fastapi_app_answers_422_naming_the_token() -> None:
    fastapi = need("fastapi")
    testclient = need("fastapi.testclient")
    app = fastapi.FastAPI()

    @app.post("/resources")
    def create(request: Request) -> Request:
        return request

    @app.get("/resources")  # a query parameter: a VRN holds a "/"
    def read(resource: Vrn) -> dict[str, str]:
        return {"service": resource.service, "canonical": str(resource)}

    client = testclient.TestClient(app)
    answer = client.post("/resources", json={"resource": VALID})
    assert answer.status_code == 200 and answer.json()["resource"] == CANONICAL
    answer = client.post("/resources", json={"resource": "vrn:vlt:iam:::project/not-a-uuid"})
    assert answer.status_code == 422
    [detail] = answer.json()["detail"]
    assert detail["type"] == "vrn_bad_resource_id" and detail["ctx"] == {"token": "bad-resource-id"}
    assert detail["loc"] == ["body", "resource"]
    answer = client.get("/resources", params={"resource": VALID})
    assert answer.status_code == 200 and answer.json() == {"service": "iam", "canonical": CANONICAL}
    answer = client.get("/resources", params={"resource": "vrn:vlt:Iam:::project/x"})
    assert answer.status_code == 422
    assert answer.json()["detail"][0]["type"] == "vrn_bad_service"
    assert answer.json()["detail"][0]["loc"] == ["query", "resource"]
    schema = client.get("/openapi.json").json()
    assert schema["components"]["schemas"]["Request"]["properties"]["resource"]["pattern"] == PATTERN
