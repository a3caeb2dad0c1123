#include "producer.hpp"

namespace veltrane::arrow::testing {

void Producer::release_array(ArrowArray* array) noexcept {
    auto* node = static_cast<Node*>(array->private_data);
    if (++node->releases > 1) {
        ++node->owner->twice;
    }
    for (ArrowArray* child : node->array_children) {
        if (child->release != nullptr) {
            child->release(child);
        }
    }
    if (node->array_dictionary != nullptr && node->array_dictionary->release != nullptr) {
        node->array_dictionary->release(node->array_dictionary);
    }
    ++node->owner->released;
    array->release = nullptr;
}

void Producer::release_schema(ArrowSchema* schema) noexcept {
    auto* node = static_cast<Node*>(schema->private_data);
    if (++node->releases > 1) {
        ++node->owner->twice;
    }
    for (ArrowSchema* child : node->schema_children) {
        if (child->release != nullptr) {
            child->release(child);
        }
    }
    if (node->schema_dictionary != nullptr && node->schema_dictionary->release != nullptr) {
        node->schema_dictionary->release(node->schema_dictionary);
    }
    ++node->owner->released;
    schema->release = nullptr;
}

ArrowArray Producer::array(std::int64_t length, std::int64_t null_count, std::int64_t offset,
                           std::vector<const void*> buffers, std::vector<ArrowArray> children,
                           std::optional<ArrowArray> dictionary) {
    Node& node = nodes_.emplace_back();
    node.owner = this;
    node.buffers = std::move(buffers);
    for (ArrowArray& child : children) {
        node.array_children.push_back(&arrays_.emplace_back(child));
    }
    if (dictionary) {
        node.array_dictionary = &arrays_.emplace_back(*dictionary);
    }
    ++made;
    ArrowArray out{};
    out.length = length;
    out.null_count = null_count;
    out.offset = offset;
    out.n_buffers = static_cast<std::int64_t>(node.buffers.size());
    out.n_children = static_cast<std::int64_t>(node.array_children.size());
    out.buffers = node.buffers.empty() ? nullptr : node.buffers.data();
    node.exposed_children = node.array_children;
    out.children = node.exposed_children.empty() ? nullptr : node.exposed_children.data();
    out.dictionary = node.array_dictionary;
    out.release = &release_array;
    out.private_data = &node;
    return out;
}

ArrowArray Producer::strings(const Rows& rows, char encoding, std::int64_t offset) {
    std::vector<bool> valid;
    std::int64_t nulls = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        valid.push_back(rows[i].has_value());
        nulls += rows[i].has_value() || static_cast<std::int64_t>(i) < offset ? 0 : 1;
    }
    const void* validity = nulls > 0 ? bits(valid) : nullptr;
    const auto length = static_cast<std::int64_t>(rows.size()) - offset;
    if (encoding == 'v') {
        std::string data;
        std::vector<unsigned char> views(rows.size() * 16, 0);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string row = rows[i].value_or("");
            const auto size = static_cast<std::int32_t>(row.size());
            std::memcpy(&views[i * 16], &size, 4);
            if (size <= 12) {
                std::memcpy(&views[i * 16 + 4], row.data(), row.size());
            } else {
                const std::int32_t buffer = 0;
                const auto at = static_cast<std::int32_t>(data.size());
                std::memcpy(&views[i * 16 + 4], row.data(), 4);
                std::memcpy(&views[i * 16 + 8], &buffer, 4);
                std::memcpy(&views[i * 16 + 12], &at, 4);
                data += row;
            }
        }
        const std::vector<std::int64_t> sizes{static_cast<std::int64_t>(data.size())};
        return array(length, nulls, offset, {validity, values(views), text(data), values(sizes)});
    }
    std::string data;
    std::vector<std::int64_t> offsets{0};
    for (const auto& row : rows) {
        data += row.value_or("");
        offsets.push_back(static_cast<std::int64_t>(data.size()));
    }
    const void* offsets_buffer =
        encoding == 'U' ? values(offsets) : values(std::vector<std::int32_t>(offsets.begin(), offsets.end()));
    return array(length, nulls, offset, {validity, offsets_buffer, text(data)});
}

ArrowArray Producer::table(ArrowArray column, const std::vector<bool>& valid, std::int64_t offset) {
    std::int64_t nulls = 0;
    for (std::size_t i = static_cast<std::size_t>(offset); i < valid.size(); ++i) {
        nulls += valid[i] ? 0 : 1;
    }
    return array(static_cast<std::int64_t>(valid.size()) - offset, nulls, offset,
                 {nulls > 0 ? bits(valid) : nullptr}, {column});
}

ArrowSchema Producer::schema(const char* format, std::vector<ArrowSchema> children,
                             std::optional<ArrowSchema> dictionary) {
    Node& node = nodes_.emplace_back();
    node.owner = this;
    for (ArrowSchema& child : children) {
        node.schema_children.push_back(&schemas_.emplace_back(child));
    }
    if (dictionary) {
        node.schema_dictionary = &schemas_.emplace_back(*dictionary);
    }
    ++made;
    ArrowSchema out{};
    out.format = format;
    out.name = "";
    out.flags = ARROW_FLAG_NULLABLE;
    out.n_children = static_cast<std::int64_t>(node.schema_children.size());
    out.children = node.schema_children.empty() ? nullptr : node.schema_children.data();
    out.dictionary = node.schema_dictionary;
    out.release = &release_schema;
    out.private_data = &node;
    return out;
}

int Producer::get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
    auto* state = static_cast<StreamState*>(stream->private_data);
    if (state->plan.schema_error != 0) {
        return state->plan.schema_error;
    }
    if (state->plan.schema && !state->schema_given) {
        *out = *state->plan.schema;
        state->schema_given = true;
    }
    return 0;
}

int Producer::get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
    auto* state = static_cast<StreamState*>(stream->private_data);
    if (static_cast<int>(state->next) == state->plan.fail_at) {
        return 5;
    }
    if (static_cast<int>(state->next) == state->plan.silent_at) {
        ++state->next;
        return 0;
    }
    if (state->next >= state->plan.chunks.size()) {
        out->release = nullptr;
        return 0;
    }
    *out = state->plan.chunks[state->next];
    state->plan.chunks[state->next].release = nullptr;  // handed out
    ++state->next;
    return 0;
}

const char* Producer::get_last_error(ArrowArrayStream* stream) noexcept {
    return static_cast<StreamState*>(stream->private_data)->plan.message.c_str();
}

void Producer::release_stream(ArrowArrayStream* stream) noexcept {
    auto* state = static_cast<StreamState*>(stream->private_data);
    if (++state->releases > 1) {
        ++state->owner->twice;
    }
    ++state->owner->released;
    stream->release = nullptr;
}

ArrowArrayStream Producer::stream(StreamPlan plan) {
    StreamState& state = streams_.emplace_back();
    state.owner = this;
    state.plan = std::move(plan);
    ++made;
    ArrowArrayStream out{};
    out.get_schema = &get_schema;
    out.get_next = state.plan.no_callbacks ? nullptr : &get_next;
    out.get_last_error = &get_last_error;
    out.release = &release_stream;
    out.private_data = &state;
    return out;
}

void Producer::release_unsent() {
    for (StreamState& state : streams_) {
        if (state.plan.schema && !state.schema_given && state.plan.schema->release != nullptr) {
            state.plan.schema->release(&*state.plan.schema);
        }
        for (ArrowArray& chunk : state.plan.chunks) {
            if (chunk.release != nullptr) {
                chunk.release(&chunk);
            }
        }
    }
}

}  // namespace veltrane::arrow::testing
