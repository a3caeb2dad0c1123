"""A VRN parser in pure Python (`re` for the grammar, `uuid` for the two UUID
fields): a second opinion that the test suite compares with the module.

It makes the same checks in the same order as the kernel's parser and reports
the same tokens, byte lengths included. One trap it steers around: `uuid.UUID`
alone accepts far more than the 36-byte hyphenated form (braces, "urn:uuid:",
no hyphens, and whatever `int(..., 16)` takes: '_' between digits, a sign,
surrounding spaces), so the spelling is matched first and `uuid.UUID` only
reads the value.
"""

from __future__ import annotations

import re
import uuid
from typing import NamedTuple

MAX_VRN_LEN = 512  # bytes of UTF-8

_IDENTIFIER = re.compile(r"[a-z][a-z0-9]*(?:-[a-z][a-z0-9]*)*")
_REGION = re.compile(r"[a-z0-9]+(?:-[a-z0-9]+)*")
_HYPHENATED_UUID = re.compile(
    r"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}"
)


class Vrn(NamedTuple):
    service: str
    region: str
    org: uuid.UUID | None
    resource_type: str
    resource_id: uuid.UUID


def parse(text: str) -> Vrn | str:
    """The parsed name, or the token of the first check it fails."""
    if not text:
        return "empty"
    if len(text) > MAX_VRN_LEN or (not text.isascii() and len(text.encode("utf-8")) > MAX_VRN_LEN):
        return "too-long"
    fields = text.split(":")
    if len(fields) != 6:
        return "wrong-field-count"
    scheme, partition, service, region, org, path = fields
    if scheme != "vrn":
        return "bad-scheme"
    if partition != "vlt":
        return "bad-partition"
    if not _IDENTIFIER.fullmatch(service):
        return "bad-service"
    if region and not _REGION.fullmatch(region):
        return "bad-region"
    org_value = None
    if org:
        if not _HYPHENATED_UUID.fullmatch(org):
            return "bad-org"
        org_value = uuid.UUID(org)
    if path.count("/") != 1:
        return "bad-resource-path"
    resource_type, resource_id = path.split("/")
    if not _IDENTIFIER.fullmatch(resource_type):
        return "bad-resource-type"
    if not _HYPHENATED_UUID.fullmatch(resource_id):
        return "bad-resource-id"
    return Vrn(service, region, org_value, resource_type, uuid.UUID(resource_id))


def error_kind(text: str) -> str:
    """The token of the first failed check, or "" for a valid name."""
    result = parse(text)
    return result if isinstance(result, str) else ""
