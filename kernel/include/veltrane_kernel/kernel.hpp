// Umbrella header of the veltrane kernel: resource names, UUIDs, minting, sum.
#pragma once

#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/result.hpp"
#include "veltrane_kernel/sum.hpp"
#include "veltrane_kernel/uuid.hpp"
#include "veltrane_kernel/vrn.hpp"
