// The method records of the module's functions, one per function, defined in
// the source of their group and registered, in order, by module.cpp.
#pragma once

#include "runtime/python.hpp"

namespace veltrane::functions {

// Every function takes its parameters by position or keyword through the fast
// call; METH_STATIC because the module object passed as self is never read.
inline constexpr int kFunctionFlags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

extern PyMethodDef sum_as_string;  // sum_function.cpp

extern PyMethodDef vrn_error_kind;  // vrn_query_functions.cpp
extern PyMethodDef vrn_service;
extern PyMethodDef vrn_region;
extern PyMethodDef vrn_org;
extern PyMethodDef vrn_resource_type;
extern PyMethodDef vrn_resource_id;

extern PyMethodDef vrn_canonicalize;  // vrn_render_functions.cpp
extern PyMethodDef vrn_build;
extern PyMethodDef vrn_cedar_entity_type;
extern PyMethodDef vrn_cedar_entity_id;

extern PyMethodDef mint_uuid7;  // mint_function.cpp

}  // namespace veltrane::functions
