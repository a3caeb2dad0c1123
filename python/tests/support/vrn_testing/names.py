"""Reproducible samples of VRNs, valid and invalid mixed, for the throughput
benchmark and for the test that the module and the pure-Python reference agree.

About four in five names are valid, in several shapes (with and without region
and org, UUIDs in either case). The rest fail one check each, drawn from all
eleven tokens, including spellings that only a strict UUID reader refuses.
"""

from __future__ import annotations

import random
from collections.abc import Callable, Iterator

SERVICES = ["iam", "object-store", "k8s-cluster", "s3", "compute", "queue"]
REGIONS = ["", "us-east-1", "eu-west-2", "ap-south-1", "1", "9a-b"]
RESOURCE_TYPES = ["project", "bucket", "node-pool", "instance", "topic", "x"]


def _uuid(rnd: random.Random) -> str:
    digits = f"{rnd.getrandbits(128):032x}"
    text = f"{digits[:8]}-{digits[8:12]}-{digits[12:16]}-{digits[16:20]}-{digits[20:]}"
    return text.upper() if rnd.random() < 0.2 else text


def _valid(rnd: random.Random) -> str:
    org = _uuid(rnd) if rnd.random() < 0.5 else ""
    return (
        f"vrn:vlt:{rnd.choice(SERVICES)}:{rnd.choice(REGIONS)}:{org}:"
        f"{rnd.choice(RESOURCE_TYPES)}/{_uuid(rnd)}"
    )


def _with(rnd: random.Random, **fields: str) -> str:
    """A valid name with some of its six fields (and the resource path) replaced."""
    parts = {
        "scheme": "vrn",
        "partition": "vlt",
        "service": rnd.choice(SERVICES),
        "region": rnd.choice(REGIONS),
        "org": _uuid(rnd) if rnd.random() < 0.5 else "",
        "path": f"{rnd.choice(RESOURCE_TYPES)}/{_uuid(rnd)}",
    }
    parts.update(fields)
    return ":".join(parts.values())


def _bad_uuid(rnd: random.Random) -> str:
    good = _uuid(rnd)
    plain = good.replace("-", "")
    return rnd.choice(
        [
            plain,  # 32 digits without hyphens
            "{" + good[:34] + "}",  # 36 bytes, but braced
            good[:35],  # one short
            good + "0",  # one long
            good[:9] + good[8] + good[10:],  # a hyphen moved by one place
            good[:30] + "_" + good[31:],  # '_' between digits: int(..., 16) takes it
            "+" + good[1:],  # a sign: int(..., 16) takes it
            " " + good[1:],  # a leading space: int(..., 16) takes it
            good[:20] + "g" + good[21:],  # not a hex digit
        ]
    )


_INVALID: list[Callable[[random.Random], str]] = [
    lambda rnd: "",
    lambda rnd: _with(rnd, path="a" * 470 + "/" + _uuid(rnd)),  # 513 bytes and more
    lambda rnd: "\u00e9" * 300,  # 300 characters, 600 bytes
    lambda rnd: _with(rnd, scheme=rnd.choice(["arn", "VRN", "", "vrn "])),
    lambda rnd: _with(rnd, partition=rnd.choice(["aws", "VLT", ""])),
    lambda rnd: _valid(rnd) + ":",
    lambda rnd: ":" + _valid(rnd),
    lambda rnd: _valid(rnd).replace(":", "", 1),
    lambda rnd: _with(rnd, service=rnd.choice(["Iam", "iam-", "-iam", "3d", "iam--x", "", "i\u00e4m", "a_b"])),
    lambda rnd: _with(rnd, region=rnd.choice(["US-east", "us_east", "us-", "-us", "us--east", "\u00fcs"])),
    lambda rnd: _with(rnd, org=_bad_uuid(rnd)),
    lambda rnd: _with(rnd, path=rnd.choice(["project", f"a/b/{_uuid(rnd)}", f"project{_uuid(rnd)}"])),
    lambda rnd: _with(rnd, path=rnd.choice(["", "Project", "3d", "a.b", "node_pool"]) + "/" + _uuid(rnd)),
    lambda rnd: _with(rnd, path=f"{rnd.choice(RESOURCE_TYPES)}/" + rnd.choice(["", "not-a-uuid", _bad_uuid(rnd)])),
    lambda rnd: _valid(rnd)[:-1] + "\x00",  # a NUL byte in the resource id
]


def generate(count: int, seed: int = 20240601, invalid_share: float = 0.2) -> Iterator[str]:
    """`count` names, the same ones for the same arguments."""
    rnd = random.Random(seed)
    for _ in range(count):
        if rnd.random() < invalid_share:
            yield rnd.choice(_INVALID)(rnd)
        else:
            yield _valid(rnd)


_WORDS = ["object", "store", "replication", "controller", "k8s", "cluster", "event", "bridge", "identity",
          "access", "manager", "x9", "pipeline", "scheduler"]
_MULTI_BYTE = ["\u00e9t\u00e9", "\u0441\u0435\u0440\u0432\u0438\u0441", "\u540d\u524d", "\U0001f511", "\u00fc\u00df"]


def _long_identifier(rnd: random.Random) -> str:
    """An identifier of 3 to 7 words joined by '-' (about 20 to 60 bytes)."""
    return "-".join(rnd.choice(_WORDS) for _ in range(rnd.randint(3, 7)))


def _wide_valid(rnd: random.Random) -> str:
    org = _uuid(rnd).upper() if rnd.random() < 0.5 else ""
    return (
        f"vrn:vlt:{_long_identifier(rnd)}:{rnd.choice(REGIONS)}:{org}:"
        f"{_long_identifier(rnd)}/{_uuid(rnd).upper()}"
    )


_WIDE_INVALID: list[Callable[[random.Random], str]] = [
    # multi-byte text where a field should be
    lambda rnd: "vrn:vlt:" + rnd.choice(_MULTI_BYTE) + _wide_valid(rnd)[8:],
    lambda rnd: _wide_valid(rnd).replace("/", "/" + rnd.choice(_MULTI_BYTE)),
    lambda rnd: "".join(rnd.choice(_MULTI_BYTE) for _ in range(rnd.randint(5, 40))),
    lambda rnd: "vrn:vlt:" + rnd.choice(_MULTI_BYTE) * rnd.randint(60, 200),  # often past 512 bytes
    lambda rnd: rnd.choice(_INVALID)(rnd),
]


def generate_wide(count: int, seed: int = 20240602, invalid_share: float = 0.2) -> Iterator[str]:
    """`count` names of another shape than generate()'s: every UUID in upper
    case (so the canonical text differs from the name), services and resource
    types of 20 to 60 bytes, and invalid names that are mostly multi-byte
    text. The same ones for the same arguments."""
    rnd = random.Random(seed)
    for _ in range(count):
        if rnd.random() < invalid_share:
            yield rnd.choice(_WIDE_INVALID)(rnd)
        else:
            yield _wide_valid(rnd)


def write(path: str, count: int, seed: int = 20240601, invalid_share: float = 0.2) -> None:
    """Writes `count` names to `path`, one per line."""
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        for name in generate(count, seed, invalid_share):
            out.write(name + "\n")
