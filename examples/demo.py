"""A tour of veltrane_py_bindings: validate, read, render, build, map to Cedar, mint."""

import os
import time

import veltrane_py_bindings as vrn

names = [
    "vrn:vlt:iam:us-east-1:6F1D2C3B-4A59-4E6F-8A7B-9C0D1E2F3A4B:project/0190c3a2-7b1e-7000-8000-00000000abcd",
    "vrn:vlt:object-store:eu-west-2::bucket/0190c3a2-7b1e-7000-8000-0000000000ff",
    "vrn:vlt:Iam:us-east-1::project/0190c3a2-7b1e-7000-8000-00000000abcd",
    "vrn:vlt:iam:us-east-1::project/not-a-uuid",
    "arn:vlt:iam:::project/0190c3a2-7b1e-7000-8000-00000000abcd",
]

for name in names:
    error = vrn.vrn_error_kind(name)
    if error:
        print(f"invalid ({error}): {name}")
        continue
    print(f"valid: {vrn.vrn_canonicalize(name)}")
    print(f"  service={vrn.vrn_service(name)!r} region={vrn.vrn_region(name)!r} org={vrn.vrn_org(name)!r}")
    print(f"  resource_type={vrn.vrn_resource_type(name)!r} resource_id={vrn.vrn_resource_id(name)!r}")
    print(f"  cedar: {vrn.vrn_cedar_entity_type(name)}::\"{vrn.vrn_cedar_entity_id(name)}\"")

built = vrn.vrn_build("k8s-cluster", "us-east-1", "", "node-pool", "0190C3A2-7B1E-7000-8000-000000000001")
print(f"built: {built}")
minted = vrn.mint_uuid7(time.time_ns() // 1_000_000, os.urandom(10).hex())
print(f"minted UUIDv7: {minted}")
print(f"sum_as_string(2**63 - 1, 1) = {vrn.sum_as_string(2**63 - 1, 1)}")
