// Consistency fuzzer of the Arrow import: arbitrary schemas, arrays and
// streams built from the input (formats known, unknown and null; lengths,
// offsets and their sums up to 2**63; null counts; validity; buffer counts
// and missing buffers; string offsets, views and dictionary indices anywhere;
// children; streams that fail or report success without writing), every
// buffer allocated at exactly the size the structs claim, so that the address
// sanitizer sees any read outside. The library's walk must then refuse what a
// plain reference reader here refuses, and give exactly its rows otherwise,
// and release every struct it was handed exactly once.
#include "fuzz_check.hpp"  // kernel/fuzz: FUZZ_CHECK
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "arrow/column_chunks.hpp"

namespace {

using namespace veltrane::arrow;


// Buffers past this many elements are not made: a struct that claims more is
// run only if the reference refuses it (so nothing may be read).
constexpr std::int64_t kMostElements = 4096;

// ---- the input ------------------------------------------------------------------

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool one_in(int n) { return byte() % n == 0; }
    std::int64_t small(int below) { return byte() % below; }
    std::int64_t word() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = (value << 8) | byte();
        }
        return static_cast<std::int64_t>(value);
    }
    // Mostly a small count; now and then one near the ends of 64 bits.
    std::int64_t count(int below) {
        const std::uint8_t pick = byte();
        if (pick < 232) {
            return pick % below;
        }
        constexpr std::int64_t kEdges[] = {INT64_MAX,      INT64_MAX - 1,  INT64_MAX - 7, INT64_MIN,
                                           -1,             -2,             INT64_MAX / 4, INT64_MAX / 8,
                                           INT64_MAX / 16, INT64_MAX / 2,  std::int64_t{1} << 32,
                                           (std::int64_t{1} << 61) - 1};
        if (pick < 232 + std::size(kEdges)) {
            return kEdges[pick - 232];
        }
        return word();
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// ---- the producer ------------------------------------------------------------------

// Every struct handed over, and how often it was released.
struct Ledger {
    std::deque<int> releases;  // one per struct handed over
};
Ledger* g_ledger = nullptr;

struct Node {
    int ledger_entry = -1;  // -1: a child or dictionary, released with its parent
    bool backed = true;     // an array: every buffer as large as its fields claim
};

void trap_release_array(ArrowArray*) noexcept {
    std::fprintf(stderr, "a child, dictionary or unsent array was released by the consumer\n");
    std::abort();
}
void trap_release_schema(ArrowSchema*) noexcept {
    std::fprintf(stderr, "a child, dictionary or unsent schema was released by the consumer\n");
    std::abort();
}

template <class Struct>
void counted_release(Struct* s) noexcept {
    auto* node = static_cast<Node*>(s->private_data);
    FUZZ_CHECK(node->ledger_entry >= 0);
    ++g_ledger->releases[static_cast<std::size_t>(node->ledger_entry)];
    s->release = nullptr;
}

// Owns every byte the structs point at; each allocation of exactly its size.
class Pool {
public:
    Pool() = default;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() {
        for (void* block : blocks_) {
            std::free(block);
        }
    }
    void* bytes(std::size_t size) {
        void* block = std::malloc(size);  // zero bytes: a pointer with nothing readable behind it
        blocks_.push_back(block);
        return block;
    }
    template <class T>
    T* items(std::size_t count) {
        return static_cast<T*>(bytes(count * sizeof(T)));
    }
    ArrowArray* array() { return &arrays_.emplace_back(); }
    ArrowSchema* schema() { return &schemas_.emplace_back(); }
    Node* node() { return &nodes_.emplace_back(); }

private:
    std::vector<void*> blocks_;
    std::deque<ArrowArray> arrays_;
    std::deque<ArrowSchema> schemas_;
    std::deque<Node> nodes_;
};

const char* const kFormats[] = {"u", "U", "vu", "c", "C", "s", "S", "i", "I", "l", "L",
                                "e", "f", "g", "z", "+s", "n", nullptr, "vz", "+l"};
const char* const kValueFormats[] = {"u", "U", "vu", "l", nullptr, "z"};

struct SchemaPlan {
    bool table = false;
    const char* format = "u";
    const char* dictionary = nullptr;
    bool has_dictionary = false;
};

ArrowSchema* make_schema(Pool& pool, Input& in, const SchemaPlan& plan) {
    auto fill = [&pool](ArrowSchema* s, const char* format) {
        *s = ArrowSchema{};
        s->format = format;
        s->release = &trap_release_schema;
        s->private_data = pool.node();
    };
    ArrowSchema* column = pool.schema();
    fill(column, plan.format);
    if (plan.has_dictionary) {
        ArrowSchema* values = pool.schema();
        fill(values, plan.dictionary);
        if (in.one_in(24)) {
            values->dictionary = in.one_in(2) ? values : column;  // a cycle
        }
        column->dictionary = values;
    }
    if (!plan.table) {
        return column;
    }
    ArrowSchema* table = pool.schema();
    fill(table, "+s");
    table->n_children = in.one_in(16) ? (in.one_in(2) ? in.count(4) : in.small(4) - 1) : 1;
    const std::size_t made = table->n_children > 0 && table->n_children < 8
                                 ? static_cast<std::size_t>(table->n_children)
                                 : 0;
    auto** children = pool.items<ArrowSchema*>(made);
    for (std::size_t i = 0; i < made; ++i) {
        children[i] = in.one_in(32) ? nullptr : column;
    }
    table->children = in.one_in(32) || table->n_children >= 8 ? nullptr : children;
    return table;
}

// What an array level's buffers are, as the fuzzer means them.
enum class Store : std::uint8_t { Utf8, Large, View, Fixed, Struct };

struct Maker {
    Pool& pool;
    Input& in;

    // length, offset, validity, null count, and the buffers of `store`.
    ArrowArray* level(Store store, int width, std::int64_t dictionary_length) {
        ArrowArray* a = pool.array();
        *a = ArrowArray{};
        a->release = &trap_release_array;
        Node* node = pool.node();
        a->private_data = node;
        a->length = in.count(12);
        a->offset = in.one_in(3) ? in.count(5) : 0;
        const bool sane = a->length >= 0 && a->offset >= 0 && a->offset <= INT64_MAX - a->length;
        const bool small = sane && a->offset + a->length <= kMostElements;
        // A level of no rows reads nothing, whatever its offset.
        node->backed = small || (sane && a->length == 0);
        const std::int64_t end = small ? a->offset + a->length : 0;
        // validity
        const bool nulls = in.one_in(2);
        std::uint8_t* validity = nullptr;
        std::int64_t zeros = 0;
        if (nulls) {
            const auto bytes = static_cast<std::size_t>((end + 7) / 8);
            validity = static_cast<std::uint8_t*>(pool.bytes(bytes));
            for (std::size_t i = 0; i < bytes; ++i) {
                validity[i] = in.byte();
            }
            for (std::int64_t i = small ? a->offset : 0; i < end; ++i) {
                zeros += (validity[i / 8] >> (i % 8) & 1) == 0 ? 1 : 0;
            }
        }
        a->null_count = nulls ? zeros : 0;
        if (in.one_in(12)) {
            a->null_count = in.one_in(2) ? -1 : in.one_in(4) ? in.count(16) : in.small(16) - 2;
        }
        std::vector<const void*> buffers{validity};
        const auto elements = static_cast<std::size_t>(end);
        switch (store) {
            case Store::Utf8:
            case Store::Large: {
                const bool large = store == Store::Large;
                const std::size_t count = elements + 1;
                std::vector<std::int64_t> offsets(count);
                std::int64_t at = in.one_in(16) ? -in.small(3) : in.small(4);
                for (std::size_t i = 0; i < count; ++i) {
                    offsets[i] = at;
                    at += in.one_in(16) ? -in.small(6) : in.small(12);
                }
                std::int64_t data_size = 0;
                for (std::size_t i = static_cast<std::size_t>(small ? a->offset : 0); i < count; ++i) {
                    data_size = std::max(data_size, offsets[i]);
                }
                void* offsets_buffer = pool.bytes(count * (large ? 8 : 4));
                for (std::size_t i = 0; i < count; ++i) {
                    if (large) {
                        std::memcpy(static_cast<char*>(offsets_buffer) + i * 8, &offsets[i], 8);
                    } else {
                        const auto narrow = static_cast<std::int32_t>(offsets[i]);
                        std::memcpy(static_cast<char*>(offsets_buffer) + i * 4, &narrow, 4);
                    }
                }
                auto* data = static_cast<char*>(pool.bytes(static_cast<std::size_t>(data_size)));
                for (std::int64_t i = 0; i < data_size; ++i) {
                    data[i] = static_cast<char>('a' + in.small(26));
                }
                buffers.push_back(offsets_buffer);
                buffers.push_back(in.one_in(24) ? nullptr : data);
                break;
            }
            case Store::View: {
                const std::int64_t variadic = in.small(4);
                std::vector<std::int64_t> sizes;
                std::vector<const char*> blocks;
                for (std::int64_t b = 0; b < variadic; ++b) {
                    sizes.push_back(in.small(48));
                    auto* block = static_cast<char*>(pool.bytes(static_cast<std::size_t>(sizes.back())));
                    std::memset(block, 'v', static_cast<std::size_t>(sizes.back()));
                    blocks.push_back(in.one_in(16) ? nullptr : block);
                }
                auto* views = static_cast<char*>(pool.bytes(elements * 16));
                for (std::size_t i = 0; i < elements; ++i) {
                    char* view = views + i * 16;
                    std::int32_t length = static_cast<std::int32_t>(in.small(40)) - (in.one_in(24) ? 41 : 0);
                    std::memcpy(view, &length, 4);
                    for (int k = 4; k < 16; ++k) {
                        view[k] = static_cast<char>('A' + in.small(26));
                    }
                    if (length > 12) {
                        const auto buffer = static_cast<std::int32_t>(in.small(static_cast<int>(variadic) + 2) - 1);
                        const auto offset = static_cast<std::int32_t>(in.small(48) - (in.one_in(24) ? 49 : 0));
                        std::memcpy(view + 8, &buffer, 4);
                        std::memcpy(view + 12, &offset, 4);
                    }
                }
                buffers.push_back(views);
                for (const char* block : blocks) {
                    buffers.push_back(block);
                }
                auto* sizes_buffer = pool.items<std::int64_t>(sizes.size());
                if (!sizes.empty()) {
                    std::memcpy(sizes_buffer, sizes.data(), sizes.size() * 8);
                }
                buffers.push_back(in.one_in(24) ? nullptr : sizes_buffer);
                break;
            }
            case Store::Fixed: {
                auto* values = static_cast<std::uint8_t*>(pool.bytes(elements * static_cast<std::size_t>(width)));
                for (std::size_t i = 0; i < elements * static_cast<std::size_t>(width); ++i) {
                    values[i] = in.byte();
                }
                if (dictionary_length >= 0) {
                    // Indices: mostly inside the dictionary, now and then not.
                    for (std::size_t i = 0; i < elements; ++i) {
                        if (!in.one_in(8)) {
                            const std::int64_t most = std::clamp<std::int64_t>(dictionary_length, 0, 200);
                            const std::int64_t index = in.small(static_cast<int>(most) + 1);
                            std::memcpy(values + i * static_cast<std::size_t>(width), &index, static_cast<std::size_t>(width));
                        }
                    }
                }
                buffers.push_back(values);
                break;
            }
            case Store::Struct:
                break;
        }
        if (in.one_in(24) && buffers.size() > 1) {
            buffers[1 + static_cast<std::size_t>(in.small(static_cast<int>(buffers.size()) - 1))] = nullptr;
        }
        a->n_buffers = static_cast<std::int64_t>(buffers.size());
        if (store != Store::View && in.one_in(24)) {
            // (A view array's buffer count says where its sizes are: a wrong
            // one is a lie no reader can see through, as a wrong size is.)
            a->n_buffers += in.one_in(2) ? 1 : -1;
        }
        const std::size_t real = a->n_buffers > 0 ? static_cast<std::size_t>(a->n_buffers) : 0;
        auto** pointers = pool.items<const void*>(real);
        for (std::size_t i = 0; i < real; ++i) {
            pointers[i] = i < buffers.size() ? buffers[i] : nullptr;
        }
        a->buffers = in.one_in(32) ? nullptr : pointers;
        return a;
    }
};

Store store_of(const char* format, int& width) {
    const std::string_view f = format == nullptr ? "" : format;
    width = 0;
    if (f == "u") return Store::Utf8;
    if (f == "U") return Store::Large;
    if (f == "vu") return Store::View;
    if (f == "+s") return Store::Struct;
    if (f == "c" || f == "C") width = 1;
    else if (f == "s" || f == "S" || f == "e") width = 2;
    else if (f == "i" || f == "I" || f == "f") width = 4;
    else if (f == "l" || f == "L" || f == "g") width = 8;
    else return Store::Utf8;  // unknown: some array; it is never read
    return Store::Fixed;
}

// A chunk for the schema plan; the top struct is counted by the caller.
ArrowArray* make_chunk(Maker& maker, const SchemaPlan& plan) {
    Input& in = maker.in;
    int width = 0;
    ArrowArray* column = nullptr;
    if (plan.has_dictionary) {
        int value_width = 0;
        Store values_store = store_of(plan.dictionary, value_width);
        if (values_store == Store::Struct) {
            values_store = Store::Utf8;
        }
        ArrowArray* values = maker.level(values_store, value_width, -1);
        Store index_store = store_of(plan.format, width);
        if (index_store != Store::Fixed) {
            index_store = Store::Fixed;
            width = 1;
        }
        column = maker.level(index_store, width, values->length);
        column->dictionary = in.one_in(32) ? nullptr : values;
    } else {
        Store store = store_of(plan.format, width);
        if (store == Store::Struct) {
            store = Store::Utf8;
        }
        column = maker.level(store, width, -1);
        if (in.one_in(32)) {
            column->dictionary = maker.level(Store::Utf8, 0, -1);  // one its type does not have
        }
    }
    if (in.one_in(32)) {
        column->n_children = in.count(3);
    }
    if (!plan.table) {
        return column;
    }
    ArrowArray* table = maker.level(Store::Struct, 0, -1);
    table->n_children = in.one_in(16) ? in.count(3) : 1;
    auto** children = maker.pool.items<ArrowArray*>(1);
    children[0] = in.one_in(32) ? nullptr : column;
    table->children = in.one_in(32) ? nullptr : children;
    return table;
}

// ---- the reference reader -----------------------------------------------------------

enum class Verdict : std::uint8_t { Malformed, WrongType, StreamFailed };

struct RefCell {
    enum Kind : std::uint8_t { Null, Value, Corrupt } kind = Null;
    std::string text;
    double number = 0;
};

bool schema_ok(const ArrowSchema* s, int depth, int& nodes) {
    if (depth > 64 || ++nodes > (1 << 16)) return false;
    if (s->format == nullptr || s->n_children < 0) return false;
    if (s->n_children > 0 && s->children == nullptr) return false;
    for (std::int64_t i = 0; i < s->n_children; ++i) {
        if (s->children[i] == nullptr || !schema_ok(s->children[i], depth + 1, nodes)) return false;
    }
    return s->dictionary == nullptr || schema_ok(s->dictionary, depth + 1, nodes);
}

struct RefType {
    bool table = false;
    std::string values;  // the format of the strings or numbers
    std::string index;   // a dictionary's index format, or empty
};

bool in_list(const std::string& f, std::initializer_list<const char*> list) {
    for (const char* item : list) {
        if (f == item) return true;
    }
    return false;
}

std::optional<RefType> ref_type(const ArrowSchema* s, bool strings) {
    RefType type;
    if (std::string(s->format) == "+s" && s->n_children == 1) {
        type.table = true;
        s = s->children[0];
    }
    const std::string f = s->format;
    if (!strings) {
        if (s->dictionary != nullptr || !in_list(f, {"c", "C", "s", "S", "i", "I", "l", "L", "e", "f", "g"})) {
            return std::nullopt;
        }
        type.values = f;
        return type;
    }
    if (s->dictionary != nullptr) {
        const std::string v = s->dictionary->format;
        if (!in_list(f, {"c", "C", "s", "S", "i", "I", "l", "L"}) || !in_list(v, {"u", "U", "vu"}) ||
            s->dictionary->dictionary != nullptr) {
            return std::nullopt;
        }
        type.index = f;
        type.values = v;
        return type;
    }
    if (!in_list(f, {"u", "U", "vu"})) return std::nullopt;
    type.values = f;
    return type;
}

int width_of(const std::string& f) {
    if (f == "c" || f == "C") return 1;
    if (f == "s" || f == "S" || f == "e") return 2;
    if (f == "i" || f == "I" || f == "f") return 4;
    return 8;
}

// The structure of one level, as the interface describes it.
bool level_ok(const ArrowArray* a, const std::string& f, std::int64_t children, bool dictionary) {
    if (a->length < 0 || a->offset < 0) return false;
    __int128 end = static_cast<__int128>(a->offset) + a->length;
    if (end > INT64_MAX) return false;
    __int128 bytes = 0;
    if (f == "u") bytes = (end + 1) * 4;
    else if (f == "U") bytes = (end + 1) * 8;
    else if (f == "vu") bytes = end * 16;
    else if (f != "+s") bytes = end * width_of(f);
    if (bytes > INT64_MAX) return false;
    if (a->null_count < -1 || a->null_count > a->length) return false;
    const std::int64_t wanted = f == "+s" ? 1 : (f == "u" || f == "U" || f == "vu") ? 3 : 2;
    if (f == "vu" ? a->n_buffers < 3 : a->n_buffers != wanted) return false;
    if (a->buffers == nullptr) return false;
    if (a->null_count > 0 && a->buffers[0] == nullptr) return false;
    if (a->n_children != children) return false;
    for (std::int64_t i = 0; i < children; ++i) {
        if (a->children == nullptr || a->children[i] == nullptr) return false;
    }
    if ((a->dictionary != nullptr) != dictionary) return false;
    if (a->length > 0) {
        if (f != "+s" && a->buffers[1] == nullptr) return false;
        if (f == "vu" && a->n_buffers > 3 && a->buffers[a->n_buffers - 1] == nullptr) return false;
    } else if (f == "vu" && a->n_buffers > 3 && a->buffers[a->n_buffers - 1] == nullptr) {
        return false;
    }
    return true;
}

bool bit(const ArrowArray* a, std::int64_t i) {
    if (a->null_count == 0 || a->buffers[0] == nullptr) return true;
    return (static_cast<const std::uint8_t*>(a->buffers[0])[i / 8] >> (i % 8) & 1) != 0;
}

template <class T>
T at(const void* base, std::int64_t i) {
    T v;
    std::memcpy(&v, static_cast<const char*>(base) + i * static_cast<std::int64_t>(sizeof(T)), sizeof(T));
    return v;
}

RefCell entry(const ArrowArray* a, const std::string& f, std::int64_t i) {
    RefCell cell;
    const std::int64_t k = a->offset + i;
    if (!bit(a, k)) return cell;
    cell.kind = RefCell::Corrupt;
    if (f == "vu") {
        const char* view = static_cast<const char*>(a->buffers[1]) + k * 16;
        const auto length = at<std::int32_t>(view, 0);
        if (length < 0) return cell;
        if (length <= 12) {
            cell.kind = RefCell::Value;
            cell.text.assign(view + 4, static_cast<std::size_t>(length));
            return cell;
        }
        const auto buffer = at<std::int32_t>(view, 2);
        const auto offset = at<std::int32_t>(view, 3);
        const std::int64_t count = a->n_buffers - 3;
        if (buffer < 0 || buffer >= count || offset < 0) return cell;
        const auto size = at<std::int64_t>(a->buffers[a->n_buffers - 1], buffer);
        const char* block = static_cast<const char*>(a->buffers[2 + buffer]);
        if (std::int64_t{offset} + length > size || block == nullptr) return cell;
        cell.kind = RefCell::Value;
        cell.text.assign(block + offset, static_cast<std::size_t>(length));
        return cell;
    }
    const std::int64_t start = f == "u" ? at<std::int32_t>(a->buffers[1], k) : at<std::int64_t>(a->buffers[1], k);
    const std::int64_t end = f == "u" ? at<std::int32_t>(a->buffers[1], k + 1) : at<std::int64_t>(a->buffers[1], k + 1);
    const char* data = static_cast<const char*>(a->buffers[2]);
    if (start < 0 || end < start || (end > start && data == nullptr)) return cell;
    cell.kind = RefCell::Value;
    cell.text = end > start ? std::string(data + start, static_cast<std::size_t>(end - start)) : std::string();
    return cell;
}

double half(std::uint16_t h) {
    const int exponent = (h >> 10) & 31;
    const int fraction = h & 1023;
    double v = exponent == 0    ? fraction * std::pow(2.0, -24)
               : exponent == 31 ? (fraction == 0 ? INFINITY : NAN)
                                : (1024 + fraction) * std::pow(2.0, exponent - 25);
    return (h & 0x8000) != 0 ? -v : v;
}

double number_at(const void* values, const std::string& f, std::int64_t i) {
    if (f == "c") return at<std::int8_t>(values, i);
    if (f == "C") return at<std::uint8_t>(values, i);
    if (f == "s") return at<std::int16_t>(values, i);
    if (f == "S") return at<std::uint16_t>(values, i);
    if (f == "i") return at<std::int32_t>(values, i);
    if (f == "I") return at<std::uint32_t>(values, i);
    if (f == "l") return static_cast<double>(at<std::int64_t>(values, i));
    if (f == "L") return static_cast<double>(at<std::uint64_t>(values, i));
    if (f == "e") return half(at<std::uint16_t>(values, i));
    if (f == "f") return at<float>(values, i);
    return at<double>(values, i);
}

std::int64_t index_value(const void* indices, const std::string& f, std::int64_t i) {
    if (f == "c") return at<std::int8_t>(indices, i);
    if (f == "C") return at<std::uint8_t>(indices, i);
    if (f == "s") return at<std::int16_t>(indices, i);
    if (f == "S") return at<std::uint16_t>(indices, i);
    if (f == "i") return at<std::int32_t>(indices, i);
    if (f == "I") return at<std::uint32_t>(indices, i);
    if (f == "l") return at<std::int64_t>(indices, i);
    const auto v = at<std::uint64_t>(indices, i);
    return v > static_cast<std::uint64_t>(INT64_MAX) ? -1 : static_cast<std::int64_t>(v);
}

bool backed(const ArrowArray* a) { return static_cast<const Node*>(a->private_data)->backed; }

// Set by ref_chunk for a chunk it accepts but whose buffers were not all made.
bool g_unbacked = false;

// The rows of one chunk, or nothing when its structure is refused.
std::optional<std::vector<RefCell>> ref_chunk(const ArrowArray* top, const RefType& type, bool strings) {
    const ArrowArray* column = top;
    if (type.table) {
        if (!level_ok(top, "+s", 1, false)) return std::nullopt;
        column = top->children[0];
    }
    const std::string column_format = type.index.empty() ? type.values : type.index;
    if (!level_ok(column, column_format, 0, !type.index.empty())) return std::nullopt;
    if (!type.index.empty() && !level_ok(column->dictionary, type.values, 0, false)) return std::nullopt;
    if (type.table && column->length < top->offset + top->length) return std::nullopt;
    if ((type.table && !backed(top)) || !backed(column) || (!type.index.empty() && !backed(column->dictionary))) {
        g_unbacked = true;
        return std::vector<RefCell>();
    }
    std::vector<RefCell> rows;
    for (std::int64_t r = 0; r < top->length; ++r) {
        RefCell cell;
        std::int64_t row = r;
        if (type.table) {
            if (!bit(top, top->offset + r)) {
                rows.push_back(cell);
                continue;
            }
            row = top->offset + r;
        }
        if (!strings) {
            if (bit(column, column->offset + row)) {
                cell.kind = RefCell::Value;
                cell.number = number_at(column->buffers[1], type.values, column->offset + row);
            }
        } else if (type.index.empty()) {
            cell = entry(column, type.values, row);
        } else if (bit(column, column->offset + row)) {
            const std::int64_t index = index_value(column->buffers[1], type.index, column->offset + row);
            if (index < 0 || index >= column->dictionary->length) {
                cell.kind = RefCell::Corrupt;
            } else {
                cell = entry(column->dictionary, type.values, index);
            }
        }
        rows.push_back(cell);
    }
    return rows;
}

// ---- streams ----------------------------------------------------------------------------

struct StreamState {
    Pool* pool = nullptr;
    ArrowSchema* schema = nullptr;
    int stream_entry = -1;
    std::vector<ArrowArray*> chunks;
    int schema_error = 0;           // get_schema fails
    bool schema_silent = false;     // get_schema succeeds without writing
    int fail_at = -1;               // get_next fails here
    int silent_at = -1;             // get_next succeeds here without writing
    std::size_t next = 0;
    std::vector<int> chunk_entries;  // ledger entry of each chunk handed out
    bool schema_given = false;
};

int hand_over() {
    g_ledger->releases.push_back(0);
    return static_cast<int>(g_ledger->releases.size()) - 1;
}

void scribble(ArrowArray* out) {
    *out = ArrowArray{};
    out->release = &trap_release_array;  // written on failure: not the consumer's
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
    auto* state = static_cast<StreamState*>(stream->private_data);
    FUZZ_CHECK(!state->schema_given);
    if (state->schema_error != 0) {
        *out = ArrowSchema{};
        out->release = &trap_release_schema;
        return state->schema_error;
    }
    if (state->schema_silent) {
        return 0;
    }
    state->schema_given = true;
    auto* node = static_cast<Node*>(state->schema->private_data);
    node->ledger_entry = hand_over();
    state->schema->release = &counted_release<ArrowSchema>;
    *out = *state->schema;
    return 0;
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
    auto* state = static_cast<StreamState*>(stream->private_data);
    const auto k = static_cast<int>(state->next);
    if (k == state->fail_at) {
        scribble(out);
        return 22;
    }
    ++state->next;
    if (k == state->silent_at) {
        return 0;
    }
    if (static_cast<std::size_t>(k) >= state->chunks.size()) {
        *out = ArrowArray{};
        return 0;
    }
    ArrowArray* chunk = state->chunks[static_cast<std::size_t>(k)];
    static_cast<Node*>(chunk->private_data)->ledger_entry = hand_over();
    chunk->release = &counted_release<ArrowArray>;
    *out = *chunk;
    return 0;
}

const char* stream_last_error(ArrowArrayStream*) noexcept { return "the fuzzer's stream failed"; }

// ---- one run ---------------------------------------------------------------------------

const char* const kIndexFormats[] = {"c", "C", "s", "S", "i", "I", "l", "L"};

void run(Input& in) {
    g_unbacked = false;
    Ledger ledger;
    g_ledger = &ledger;
    Pool pool;
    Maker maker{pool, in};
    const ColumnKind kind = in.one_in(4) ? ColumnKind::Numbers : ColumnKind::Strings;

    SchemaPlan plan;
    plan.table = in.one_in(3);
    plan.format = kFormats[in.small(static_cast<int>(std::size(kFormats)))];
    plan.has_dictionary = in.one_in(3);
    if (plan.has_dictionary) {
        plan.format = in.one_in(8) ? kFormats[in.small(static_cast<int>(std::size(kFormats)))]
                                   : kIndexFormats[in.small(static_cast<int>(std::size(kIndexFormats)))];
        plan.dictionary = kValueFormats[in.small(static_cast<int>(std::size(kValueFormats)))];
    }
    ArrowSchema* schema = make_schema(pool, in, plan);
    if (in.one_in(32)) {
        schema->n_children = -1;
    }

    const bool streamed = in.one_in(2);
    const int chunk_count = streamed ? static_cast<int>(in.small(4)) : 1;
    std::vector<ArrowArray*> chunks;
    for (int k = 0; k < chunk_count; ++k) {
        chunks.push_back(make_chunk(maker, plan));
    }
    StreamState state;
    if (streamed) {
        state.pool = &pool;
        state.schema = schema;
        state.chunks = chunks;
        state.schema_error = in.one_in(16) ? 5 : 0;
        state.schema_silent = in.one_in(16);
        state.fail_at = in.one_in(8) ? static_cast<int>(in.small(4)) : -1;
        state.silent_at = in.one_in(8) ? static_cast<int>(in.small(4)) : -1;
    }
    const bool no_callbacks = streamed && in.one_in(24);

    // The reference: the refusal, or the rows chunk by chunk.
    std::optional<Verdict> expected_refusal;
    std::size_t refused_after = 0;  // chunks read before the refusal
    std::vector<std::vector<RefCell>> expected;
    bool schema_read = true;
    if (no_callbacks) {
        expected_refusal = Verdict::Malformed;
        schema_read = false;
    } else if (streamed && state.schema_error != 0) {
        expected_refusal = Verdict::StreamFailed;
        schema_read = false;
    } else if (streamed && state.schema_silent) {
        expected_refusal = Verdict::StreamFailed;
        schema_read = false;
    }
    int nodes = 0;
    std::optional<RefType> type;
    if (schema_read) {
        if (!schema_ok(schema, 0, nodes)) {
            expected_refusal = Verdict::Malformed;
        } else if (!(type = ref_type(schema, kind == ColumnKind::Strings))) {
            expected_refusal = Verdict::WrongType;
        }
    }
    // The chunks each level of which was made with all its buffers (the
    // reference reads only those; one it would read without them: no run).
    if (!expected_refusal) {
        for (std::size_t k = 0;; ++k) {
            if (streamed && static_cast<int>(k) == state.fail_at) {
                expected_refusal = Verdict::StreamFailed;
                refused_after = k;
                break;
            }
            if (k >= chunks.size() || (streamed && static_cast<int>(k) == state.silent_at)) {
                break;
            }
            auto rows = ref_chunk(chunks[k], *type, kind == ColumnKind::Strings);
            if (!rows) {
                expected_refusal = Verdict::Malformed;
                refused_after = k;
                break;
            }
            if (g_unbacked) {
                return;  // the library would read buffers this run could not make
            }
            expected.push_back(std::move(*rows));
        }
    }

    // The library.
    std::optional<Verdict> refusal;
    std::vector<std::vector<RefCell>> got;
    {
        std::variant<ColumnChunks, Problem> opened = Problem{};
        if (streamed) {
            ArrowArrayStream stream{};
            stream.get_schema = &stream_get_schema;
            stream.get_next = no_callbacks ? nullptr : &stream_get_next;
            stream.get_last_error = &stream_last_error;
            stream.private_data = &state;
            const int entry = hand_over();
            stream.release = [](ArrowArrayStream* s) noexcept {
                auto* st = static_cast<StreamState*>(s->private_data);
                ++g_ledger->releases[static_cast<std::size_t>(st->stream_entry)];
                s->release = nullptr;
            };
            state.stream_entry = entry;
            opened = ColumnChunks::of_stream(&stream, kind, ChunkNames::Numbered);
            FUZZ_CHECK(stream.release == nullptr);
        } else {
            static_cast<Node*>(schema->private_data)->ledger_entry = hand_over();
            schema->release = &counted_release<ArrowSchema>;
            static_cast<Node*>(chunks[0]->private_data)->ledger_entry = hand_over();
            chunks[0]->release = &counted_release<ArrowArray>;
            ArrowSchema schema_copy = *schema;
            ArrowArray array_copy = *chunks[0];
            opened = ColumnChunks::of_array(&schema_copy, &array_copy, kind, ChunkNames::Numbered);
            FUZZ_CHECK(schema_copy.release == nullptr && array_copy.release == nullptr);
        }
        if (auto* problem = std::get_if<Problem>(&opened)) {
            refusal = static_cast<Verdict>(problem->refusal);
        } else {
            ColumnChunks& column = std::get<ColumnChunks>(opened);
            while (true) {
                auto next = column.next();
                if (auto* problem = std::get_if<Problem>(&next)) {
                    refusal = static_cast<Verdict>(problem->refusal);
                    break;
                }
                auto& chunk = std::get<std::optional<Chunk>>(next);
                if (!chunk) {
                    break;
                }
                FUZZ_CHECK(got.size() < expected.size());
                const std::vector<RefCell>& want = expected[got.size()];
                FUZZ_CHECK(chunk->length() == static_cast<std::int64_t>(want.size()));
                const std::int64_t clean = chunk->first_corrupt_row();
                std::vector<RefCell> rows;
                if (kind == ColumnKind::Strings) {
                    const StringChunkReader reader(chunk->view());
                    std::string_view text;
                    for (std::int64_t r = 0; r < clean; ++r) {
                        RefCell cell;
                        if (reader.read(r, text) == Cell::Value) {
                            cell.kind = RefCell::Value;
                            cell.text = std::string(text);
                        }
                        rows.push_back(cell);
                    }
                } else {
                    const NumberChunkReader reader(chunk->view());
                    for (std::int64_t r = 0; r < clean; ++r) {
                        RefCell cell;
                        if (reader.read(r, cell.number) == Cell::Value) {
                            cell.kind = RefCell::Value;
                        }
                        rows.push_back(cell);
                    }
                }
                // Rows agree up to the first corrupt one, which is the reference's too.
                for (std::size_t r = 0; r < rows.size(); ++r) {
                    FUZZ_CHECK(want[r].kind == rows[r].kind);
                    FUZZ_CHECK(want[r].text == rows[r].text);
                    FUZZ_CHECK(want[r].number == rows[r].number ||
                                     (std::isnan(want[r].number) && std::isnan(rows[r].number)));
                }
                if (clean < chunk->length()) {
                    FUZZ_CHECK(want[static_cast<std::size_t>(clean)].kind == RefCell::Corrupt);
                }
                got.push_back(std::move(rows));
            }
        }
    }
    // Everything handed over was released exactly once, now that the walk is gone.
    for (int releases : ledger.releases) {
        FUZZ_CHECK(releases == 1);
    }
    FUZZ_CHECK(refusal == expected_refusal);
    if (expected_refusal) {
        FUZZ_CHECK(got.size() == refused_after);
    } else {
        FUZZ_CHECK(got.size() == expected.size());
    }
    g_ledger = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    run(in);
    return 0;
}
