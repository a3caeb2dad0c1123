// The method records of the column module's functions, registered in order by
// module.cpp.
#pragma once

#include "runtime/python.hpp"

namespace veltrane::native::functions {

inline constexpr int kFunctionFlags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

// column_functions.cpp: the VRN functions over columns.
extern PyMethodDef vrn_error_kind;
extern PyMethodDef vrn_canonicalize;
extern PyMethodDef vrn_service;
extern PyMethodDef vrn_region;
extern PyMethodDef vrn_org;
extern PyMethodDef vrn_resource_type;
extern PyMethodDef vrn_resource_id;
extern PyMethodDef vrn_cedar_entity_type;
extern PyMethodDef vrn_cedar_entity_id;
extern PyMethodDef vrn_fields;
extern PyMethodDef vrn_build;
extern PyMethodDef mint_uuid7;

// python_columns.cpp: columns made from Python sequences.
extern PyMethodDef strings_column;
extern PyMethodDef numbers_column;

#if VELTRANE_TEST_HOOKS
// test_hooks.cpp: the hooks of the test-only build of this module.
extern PyMethodDef set_utf8_limit;
extern PyMethodDef arm_rendezvous;
extern PyMethodDef rendezvous_met;
extern PyMethodDef panic;
extern PyMethodDef attach_count;
#endif

}  // namespace veltrane::native::functions
