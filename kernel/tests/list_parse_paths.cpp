// Prints the parse paths this build has on this processor, one per line,
// narrowest first: the test scripts run the kernel's suite once on each
// (VELTRANE_PARSE_PATH).
#include <iostream>

#include "veltrane_kernel/parse_path.hpp"

int main() {
    for (veltrane_kernel::ParsePath path : veltrane_kernel::available_parse_paths()) {
        std::cout << veltrane_kernel::parse_path_name(path) << '\n';
    }
    return 0;
}
