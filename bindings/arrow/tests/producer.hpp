// A hand-made Arrow producer for the tests: arrays, schemas and streams built
// field by field (so a test can break any one of them), every buffer kept
// alive by the producer, every release counted, a second release of one
// struct recorded as a fault.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "arrow/arrow_abi.hpp"

namespace veltrane::arrow::testing {

using Rows = std::vector<std::optional<std::string>>;

class Producer {
public:
    Producer() = default;
    Producer(const Producer&) = delete;
    Producer& operator=(const Producer&) = delete;

    // ---- buffers ---------------------------------------------------------------
    template <class T>
    const void* values(const std::vector<T>& items) {
        std::vector<unsigned char>& bytes = storage_.emplace_back(items.size() * sizeof(T) + 1);
        if (!items.empty()) {
            std::memcpy(bytes.data(), items.data(), items.size() * sizeof(T));
        }
        return bytes.data();
    }
    const void* bits(const std::vector<bool>& valid) {
        std::vector<unsigned char>& bytes = storage_.emplace_back(valid.size() / 8 + 1, 0);
        for (std::size_t i = 0; i < valid.size(); ++i) {
            if (valid[i]) {
                bytes[i / 8] = static_cast<unsigned char>(bytes[i / 8] | (1U << (i % 8)));
            }
        }
        return bytes.data();
    }
    const void* text(const std::string& bytes) { return values(std::vector<char>(bytes.begin(), bytes.end())); }

    // ---- arrays ----------------------------------------------------------------
    // An array of these fields; `buffers` are copied into a pointer array the
    // producer keeps (so a test may set `buffers` to null afterwards).
    ArrowArray array(std::int64_t length, std::int64_t null_count, std::int64_t offset,
                     std::vector<const void*> buffers, std::vector<ArrowArray> children = {},
                     std::optional<ArrowArray> dictionary = std::nullopt);

    // Rows as utf8 ('u'), large_utf8 ('U') or string_view ('v'): the first
    // `offset` rows hidden by the array's offset.
    ArrowArray strings(const Rows& rows, char encoding = 'u', std::int64_t offset = 0);
    // Indices (nullopt: a null row) of integer type T over `dictionary`.
    template <class T>
    ArrowArray dictionary_indices(const std::vector<std::optional<T>>& indices, ArrowArray dictionary,
                                  std::int64_t offset = 0) {
        std::vector<T> raw;
        std::vector<bool> valid;
        std::int64_t nulls = 0;
        for (const auto& index : indices) {
            raw.push_back(index.value_or(T{}));
            valid.push_back(index.has_value());
            nulls += index.has_value() || static_cast<std::int64_t>(valid.size()) <= offset ? 0 : 1;
        }
        return array(static_cast<std::int64_t>(indices.size()) - offset, nulls, offset,
                     {nulls > 0 ? bits(valid) : nullptr, values(raw)}, {}, dictionary);
    }
    // Numbers of type T (nullopt: a null row).
    template <class T>
    ArrowArray numbers(const std::vector<std::optional<T>>& items, std::int64_t offset = 0) {
        std::vector<T> raw;
        std::vector<bool> valid;
        std::int64_t nulls = 0;
        for (const auto& item : items) {
            raw.push_back(item.value_or(T{}));
            valid.push_back(item.has_value());
            nulls += item.has_value() || static_cast<std::int64_t>(valid.size()) <= offset ? 0 : 1;
        }
        return array(static_cast<std::int64_t>(items.size()) - offset, nulls, offset,
                     {nulls > 0 ? bits(valid) : nullptr, values(raw)});
    }
    // A one-column table over `column`: `valid` are the table's own rows.
    ArrowArray table(ArrowArray column, const std::vector<bool>& valid, std::int64_t offset = 0);

    // ---- schemas ---------------------------------------------------------------
    ArrowSchema schema(const char* format, std::vector<ArrowSchema> children = {},
                       std::optional<ArrowSchema> dictionary = std::nullopt);

    // ---- streams ---------------------------------------------------------------
    struct StreamPlan {
        std::optional<ArrowSchema> schema;  // nullopt: get_schema succeeds without writing one
        std::vector<ArrowArray> chunks;
        int schema_error = 0;               // get_schema fails with this code
        int fail_at = -1;                   // get_next fails at this chunk, with code 5
        int silent_at = -1;                 // get_next succeeds at this chunk without writing
        std::string message = "the producer gave up";
        bool no_callbacks = false;          // get_next left null
    };
    ArrowArrayStream stream(StreamPlan plan);

    // ---- accounting --------------------------------------------------------------
    int made = 0;       // structs handed out (arrays, schemas, streams, children included)
    int released = 0;   // release callbacks that released something
    int twice = 0;      // release callbacks on a struct already released
    [[nodiscard]] int outstanding() const noexcept { return made - released; }

    // What a stream did not hand out is not the consumer's to release: the
    // producer releases it itself (and counts it).
    void release_unsent();

private:
    struct Node {
        Producer* owner = nullptr;
        std::vector<const void*> buffers;
        std::vector<ArrowArray*> array_children;
        std::vector<ArrowArray*> exposed_children;  // what the struct points at (a test may break it)
        std::vector<ArrowSchema*> schema_children;
        ArrowArray* array_dictionary = nullptr;
        ArrowSchema* schema_dictionary = nullptr;
        int releases = 0;
    };
    struct StreamState {
        Producer* owner = nullptr;
        StreamPlan plan;
        std::size_t next = 0;
        bool schema_given = false;
        int releases = 0;
    };
    static void release_array(ArrowArray* array) noexcept;
    static void release_schema(ArrowSchema* schema) noexcept;
    static void release_stream(ArrowArrayStream* stream) noexcept;
    static int get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept;
    static int get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept;
    static const char* get_last_error(ArrowArrayStream* stream) noexcept;

    std::deque<std::vector<unsigned char>> storage_;
    std::deque<Node> nodes_;
    std::deque<ArrowArray> arrays_;
    std::deque<ArrowSchema> schemas_;
    std::deque<StreamState> streams_;
};

}  // namespace veltrane::arrow::testing
