// Runs one kernel operation N times on the parse path in use (choose it with
// VELTRANE_PARSE_PATH), for instruction counts: the count of N runs minus
// that of M runs, divided by N - M, is one run's (the loop adds a handful).
//
//     repeat_op parse111|parse512|validate111|validate512|canonical|cedar|build N
//     repeat_op paths        the parse paths this processor has
//
// parse111: a typical 111-byte name with an org; parse512: the longest name;
// validate111 and validate512: the verdict alone on the same names;
// canonical and cedar: parse111 and that rendering into a buffer; build: the
// typical name from its five fields, into a buffer.
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "veltrane_kernel/parse_path.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace {

using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::Vrn;
using veltrane_kernel::VrnView;

const std::string kOrg = "0190b2c4-5e6f-7a8b-9c0d-1e2f3a4b5c6d";
const std::string kId = "0190b2c4-5e70-7123-8567-89abcdef0123";
const std::string kTypical = "vrn:vlt:object-store:us-east-1:" + kOrg + ":bucket/" + kId;  // 111 bytes
const std::string kLongest = "vrn:vlt:a:::" + std::string(463, 'b') + "/" + kId;           // 512 bytes

enum class Operation { Parse111, Parse512, Validate111, Validate512, Canonical, Cedar, Build };

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "paths") {
        for (veltrane_kernel::ParsePath path : veltrane_kernel::available_parse_paths()) {
            std::cout << veltrane_kernel::parse_path_name(path) << '\n';
        }
        return 0;
    }
    const std::string_view name = argc == 3 ? argv[1] : "";
    Operation op;
    if (name == "parse111") {
        op = Operation::Parse111;
    } else if (name == "parse512") {
        op = Operation::Parse512;
    } else if (name == "validate111") {
        op = Operation::Validate111;
    } else if (name == "validate512") {
        op = Operation::Validate512;
    } else if (name == "canonical") {
        op = Operation::Canonical;
    } else if (name == "cedar") {
        op = Operation::Cedar;
    } else if (name == "build") {
        op = Operation::Build;
    } else {
        std::cerr << "usage: repeat_op parse111|parse512|validate111|validate512|canonical|cedar|build N\n";
        return 2;
    }
    const long runs = std::atol(argv[2]);
    const std::string_view text = op == Operation::Parse512 || op == Operation::Validate512 ? kLongest : kTypical;
    char out[MAX_VRN_LEN];
    std::size_t sink = 0;
    for (long i = 0; i < runs; ++i) {
        if (op == Operation::Build) {
            sink += *Vrn::build_into("object-store", "us-east-1", kOrg, "bucket", kId, out);
        } else if (op == Operation::Validate111 || op == Operation::Validate512) {
            sink += VrnView::validate(text).has_value();
        } else {
            const auto parsed = VrnView::parse(text);
            if (op == Operation::Canonical) sink += parsed->write_canonical(out);
            if (op == Operation::Cedar) sink += parsed->write_cedar_entity(out).type_size;
            sink += parsed.has_value();
        }
        asm volatile("" ::: "memory");
    }
    return sink == 0 ? 1 : 0;
}
