#include "arrow/column_data.hpp"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace veltrane::arrow {
namespace {

// Huge pages are 2 MiB on the systems that have them; a block is put on them
// from one of them on (below that, the page faults cost little).
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeBlock = kHugePage;

void set_bit(std::vector<std::uint8_t>& bitmap, std::size_t i, bool value) {
    if (value) {
        bitmap[i / 8] = static_cast<std::uint8_t>(bitmap[i / 8] | (1U << (i % 8)));
    } else {
        bitmap[i / 8] = static_cast<std::uint8_t>(bitmap[i / 8] & ~(1U << (i % 8)));
    }
}

// The validity of the joined chunks: empty when no chunk has a null row.
std::vector<std::uint8_t> join_validity(const std::vector<ChunkPtr>& chunks, std::int64_t length) {
    bool any_null = false;
    for (const ChunkPtr& chunk : chunks) {
        any_null = any_null || chunk->null_count > 0;
    }
    if (!any_null) {
        return {};
    }
    std::vector<std::uint8_t> bitmap((static_cast<std::size_t>(length) + 7) / 8, 0xFF);
    std::size_t row = 0;
    for (const ChunkPtr& chunk : chunks) {
        for (std::int64_t i = 0; i < chunk->length; ++i, ++row) {
            set_bit(bitmap, row, !chunk->is_null(i));
        }
    }
    return bitmap;
}

template <class Offset>
void append_offsets(ResultBuffer<Offset>& joined, const ResultBuffer<Offset>& part, Offset base) {
    for (std::size_t i = 1; i < part.size(); ++i) {
        joined.push_back(static_cast<Offset>(base + part[i]));
    }
}

}  // namespace

void* allocate_text_block(std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes >= kHugeBlock) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* block = std::aligned_alloc(kHugePage, rounded);
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        ::madvise(block, rounded, MADV_HUGEPAGE);  // a request: without huge pages it is plain memory
        return block;
    }
#endif
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void free_text_block(void* block) noexcept { std::free(block); }

const char* format_of(Kind kind) noexcept {
    switch (kind) {
        case Kind::Utf8:
            return "u";
        case Kind::LargeUtf8:
            return "U";
        case Kind::Float64:
            return "g";
        case Kind::Struct:
            return "+s";
    }
    return "n";
}

std::string_view ArrayData::text(std::int64_t row) const noexcept {
    const auto i = static_cast<std::size_t>(row);
    if (kind == Kind::Utf8) {
        return {data.data() + offsets32[i], static_cast<std::size_t>(offsets32[i + 1] - offsets32[i])};
    }
    return {data.data() + offsets64[i], static_cast<std::size_t>(offsets64[i + 1] - offsets64[i])};
}

void widen_to_large(ArrayData& chunk) {
    if (chunk.kind != Kind::Utf8) {
        return;
    }
    chunk.offsets64.assign(chunk.offsets32.begin(), chunk.offsets32.end());
    chunk.offsets32 = {};
    chunk.kind = Kind::LargeUtf8;
}

ChunkPtr join_chunks(const std::vector<ChunkPtr>& chunks) {
    if (chunks.size() == 1) {
        return chunks.front();
    }
    auto joined = std::make_shared<ArrayData>();
    joined->kind = chunks.front()->kind;
    for (const ChunkPtr& chunk : chunks) {
        joined->length += chunk->length;
        joined->null_count += chunk->null_count;
    }
    joined->validity = join_validity(chunks, joined->length);
    switch (joined->kind) {
        case Kind::Utf8:
            // The chunks were made with 32-bit offsets only if all of them
            // together fit (see ColumnBuilder), so the joined offsets fit too.
            joined->offsets32.push_back(0);
            for (const ChunkPtr& chunk : chunks) {
                append_offsets(joined->offsets32, chunk->offsets32,
                               static_cast<std::int32_t>(joined->data.size()));
                joined->data.insert(joined->data.end(), chunk->data.begin(), chunk->data.end());
            }
            break;
        case Kind::LargeUtf8:
            joined->offsets64.push_back(0);
            for (const ChunkPtr& chunk : chunks) {
                append_offsets(joined->offsets64, chunk->offsets64,
                               static_cast<std::int64_t>(joined->data.size()));
                joined->data.insert(joined->data.end(), chunk->data.begin(), chunk->data.end());
            }
            break;
        case Kind::Float64:
            for (const ChunkPtr& chunk : chunks) {
                joined->numbers.insert(joined->numbers.end(), chunk->numbers.begin(), chunk->numbers.end());
            }
            break;
        case Kind::Struct:
            for (std::size_t field = 0; field < chunks.front()->children.size(); ++field) {
                std::vector<ChunkPtr> parts;
                for (const ChunkPtr& chunk : chunks) {
                    parts.push_back(chunk->children[field]);
                }
                joined->children.push_back(join_chunks(parts));
            }
            break;
    }
    return joined;
}

}  // namespace veltrane::arrow
