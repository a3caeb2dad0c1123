// Which parser runs: the widest path this processor has, chosen at the first
// parse or validation and kept for the process, for both; VELTRANE_PARSE_PATH
// can name another.
#include <atomic>
#include <cstdlib>
#include <string_view>

#include "parse_paths.hpp"
#include "veltrane_kernel/parse_path.hpp"

namespace veltrane_kernel {

namespace {

struct PathEntry {
    ParsePath path;
    detail::ParseFunction parse;
    detail::ValidateFunction validate;
};

// Narrowest first.
constexpr PathEntry kPaths[] = {
    {ParsePath::Scalar, detail::parse_scalar, detail::validate_scalar},
#if defined(__x86_64__)
    {ParsePath::Sse2, detail::parse_sse2, detail::validate_sse2},
    {ParsePath::Avx2, detail::parse_avx2, detail::validate_avx2},
    {ParsePath::Avx512, detail::parse_avx512, detail::validate_avx512},
#elif defined(__aarch64__)
    {ParsePath::Neon, detail::parse_neon, detail::validate_neon},
#endif
};
constexpr std::size_t kPathCount = sizeof kPaths / sizeof kPaths[0];

bool processor_has(ParsePath path) noexcept {
    switch (path) {
#if defined(__x86_64__)
        // The checks include the operating system's support for the wider
        // registers (XGETBV), not only the processor's.
        case ParsePath::Avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                   __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
        case ParsePath::Avx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   processor_has(ParsePath::Avx2);
#endif
        default:
            return true;  // the baseline of the architecture
    }
}

constexpr std::size_t kPathKinds = static_cast<std::size_t>(ParsePath::Neon) + 1;

struct Available {
    ParsePath paths[kPathCount];
    std::size_t count = 0;
    // By path: its functions where it is available, the scalar ones elsewhere.
    detail::ParseFunction parse[kPathKinds];
    detail::ValidateFunction validate[kPathKinds];

    Available() noexcept {
        for (detail::ParseFunction& f : parse) f = detail::parse_scalar;
        for (detail::ValidateFunction& f : validate) f = detail::validate_scalar;
        for (const PathEntry& entry : kPaths) {
            if (processor_has(entry.path)) {
                paths[count++] = entry.path;
                parse[static_cast<std::size_t>(entry.path)] = entry.parse;
                validate[static_cast<std::size_t>(entry.path)] = entry.validate;
            }
        }
    }
};

const Available& available() noexcept {
    static const Available paths;
    return paths;
}

ParsePath choose() noexcept {
    const Available& paths = available();
    if (const char* wanted = std::getenv("VELTRANE_PARSE_PATH")) {
        for (std::size_t i = 0; i < paths.count; ++i) {
            if (parse_path_name(paths.paths[i]) == wanted) return paths.paths[i];
        }
    }
    return paths.paths[paths.count - 1];
}

Result<VrnView, VrnError> choose_and_parse(std::string_view text) noexcept;
Result<void, VrnError> choose_and_validate(std::string_view text) noexcept;

// The parse and the validation in use. They start as `choose_and_parse` and
// `choose_and_validate`, which replace both with the chosen path's functions
// at the first call of either. Every thread that races there chooses the same
// path, so relaxed loads and stores are enough.
std::atomic<detail::ParseFunction> current_parse{choose_and_parse};
std::atomic<detail::ValidateFunction> current_validate{choose_and_validate};

void install_chosen_path() noexcept {
    const auto index = static_cast<std::size_t>(choose());
    current_parse.store(available().parse[index], std::memory_order_relaxed);
    current_validate.store(available().validate[index], std::memory_order_relaxed);
}

Result<VrnView, VrnError> choose_and_parse(std::string_view text) noexcept {
    install_chosen_path();
    return current_parse.load(std::memory_order_relaxed)(text);
}

Result<void, VrnError> choose_and_validate(std::string_view text) noexcept {
    install_chosen_path();
    return current_validate.load(std::memory_order_relaxed)(text);
}

}  // namespace

std::string_view parse_path_name(ParsePath path) noexcept {
    switch (path) {
        case ParsePath::Scalar: return "scalar";
        case ParsePath::Sse2: return "sse2";
        case ParsePath::Avx2: return "avx2";
        case ParsePath::Avx512: return "avx512";
        case ParsePath::Neon: return "neon";
    }
    return "unknown";
}

std::span<const ParsePath> available_parse_paths() noexcept {
    const Available& paths = available();
    return {paths.paths, paths.count};
}

ParsePath active_parse_path() noexcept {
    static const ParsePath chosen = choose();
    return chosen;
}

Result<VrnView, VrnError> parse_with(ParsePath path, std::string_view text) noexcept {
    const auto index = static_cast<std::size_t>(path);
    return (index < kPathKinds ? available().parse[index] : detail::parse_scalar)(text);
}

Result<void, VrnError> validate_with(ParsePath path, std::string_view text) noexcept {
    const auto index = static_cast<std::size_t>(path);
    return (index < kPathKinds ? available().validate[index] : detail::validate_scalar)(text);
}

Result<VrnView, VrnError> VrnView::parse(std::string_view text) noexcept {
    return current_parse.load(std::memory_order_relaxed)(text);
}

Result<void, VrnError> VrnView::validate(std::string_view text) noexcept {
    return current_validate.load(std::memory_order_relaxed)(text);
}

}  // namespace veltrane_kernel
