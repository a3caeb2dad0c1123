#include "native/capsules.hpp"

#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "arrow/arrow_read.hpp"
#include "runtime/attach.hpp"
#include "runtime/fault.hpp"
#include "runtime/text.hpp"

namespace veltrane::native {
namespace {

using runtime::OwnedRef;

constexpr const char* kSchemaCapsule = "arrow_schema";
constexpr const char* kArrayCapsule = "arrow_array";
constexpr const char* kStreamCapsule = "arrow_array_stream";

std::string prefix(std::string_view function, std::string_view parameter) {
    return std::string(function) + "(): '" + std::string(parameter) + "'";
}

PyErr already_consumed(std::string_view function, std::string_view parameter, const char* what) {
    return PyErr::with_message(PyExc_ValueError, prefix(function, parameter) + ": the " + what +
                                                     " capsule was already consumed (its struct is released)");
}

// An empty buffer is still a valid pointer for consumers that do not expect null.
alignas(64) const std::uint8_t kNoBytes[64] = {};

const void* buffer_or_empty(const void* data) noexcept { return data != nullptr ? data : kNoBytes; }

// ---- exported arrays ------------------------------------------------------

struct ExportedArray {
    ChunkPtr chunk;
    const void* buffers[3] = {nullptr, nullptr, nullptr};
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> child_pointers;
};

void release_exported_array(ArrowArray* array) noexcept {
    auto* exported = static_cast<ExportedArray*>(array->private_data);
    // A consumer may have moved a child out; what is left is released here.
    for (ArrowArray* child : exported->child_pointers) {
        if (child->release != nullptr) {
            child->release(child);
        }
    }
    delete exported;
    array->release = nullptr;
}

// ---- exported schemas -----------------------------------------------------

struct ExportedSchema {
    std::string format;
    std::string name;
    std::vector<ArrowSchema> children;
    std::vector<ArrowSchema*> child_pointers;
};

void release_exported_schema(ArrowSchema* schema) noexcept {
    auto* exported = static_cast<ExportedSchema*>(schema->private_data);
    for (ArrowSchema* child : exported->child_pointers) {
        if (child->release != nullptr) {
            child->release(child);
        }
    }
    delete exported;
    schema->release = nullptr;
}

// ---- exported streams -----------------------------------------------------

struct ExportedStream {
    std::shared_ptr<const ColumnData> column;
    std::size_t next = 0;
};

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
    const auto* exported = static_cast<ExportedStream*>(stream->private_data);
    export_schema(*exported->column->chunks.front(), out);
    return 0;
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
    auto* exported = static_cast<ExportedStream*>(stream->private_data);
    if (exported->next < exported->column->chunks.size()) {
        export_array(exported->column->chunks[exported->next++], out);
    } else {
        std::memset(out, 0, sizeof *out);  // the end: a released array
    }
    return 0;
}

const char* stream_get_last_error(ArrowArrayStream* /*stream*/) noexcept { return nullptr; }

void release_exported_stream(ArrowArrayStream* stream) noexcept {
    delete static_cast<ExportedStream*>(stream->private_data);
    stream->release = nullptr;
}

// ---- capsule destructors: release what no consumer took --------------------

void destroy_schema_capsule(PyObject* capsule) noexcept {
    auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, kSchemaCapsule));
    if (schema != nullptr && schema->release != nullptr) {
        schema->release(schema);
    }
    delete schema;
}

void destroy_array_capsule(PyObject* capsule) noexcept {
    auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(capsule, kArrayCapsule));
    if (array != nullptr && array->release != nullptr) {
        array->release(array);
    }
    delete array;
}

void destroy_stream_capsule(PyObject* capsule) noexcept {
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, kStreamCapsule));
    if (stream != nullptr && stream->release != nullptr) {
        stream->release(stream);
    }
    delete stream;
}

template <class Struct>
PyObject* new_capsule(Struct* raw, const char* name, PyCapsule_Destructor destructor) {
    PyObject* capsule = PyCapsule_New(raw, name, destructor);
    if (capsule == nullptr) {
        if (raw->release != nullptr) {
            raw->release(raw);
        }
        delete raw;
        runtime::null_result_fault();
    }
    return capsule;
}

// The schema a consumer asks for, read but not consumed (it stays the consumer's).
bool same_type(const ArrowSchema& requested, const ArrayData& prototype) {
    if (std::string_view(requested.format) != format_of(prototype.kind)) {
        return false;
    }
    if (prototype.kind != Kind::Struct) {
        return requested.n_children == 0;
    }
    if (requested.n_children != static_cast<std::int64_t>(prototype.children.size())) {
        return false;
    }
    for (std::size_t i = 0; i < prototype.children.size(); ++i) {
        if (!same_type(*requested.children[i], *prototype.children[i])) {
            return false;
        }
    }
    return true;
}

// "'u' (utf8)": the result's own type, for the refusal of another one.
std::string describe_prototype(const ArrayData& prototype) {
    if (prototype.kind == Kind::Struct) {
        return "'+s' (a struct of the five fields)";
    }
    ArrowSchema schema;
    export_schema(prototype, &schema);
    std::string description = describe_format(schema);
    schema.release(&schema);
    return description;
}

}  // namespace

// ---- import -----------------------------------------------------------------

namespace {

PyObject* exception_of(Refusal refusal) {
    switch (refusal) {
        case Refusal::Malformed:
            return PyExc_ValueError;
        case Refusal::WrongType:
            return PyExc_TypeError;
        case Refusal::StreamFailed:
            break;
    }
    return PyExc_RuntimeError;
}

}  // namespace

PyResult<ChunkSource> ChunkSource::open(PyObject* object, std::string_view function, std::string_view parameter,
                                        ColumnKind kind, ChunkNames names) {
    std::variant<ColumnChunks, Problem> chunks = Problem{};
    if (PyCapsule_IsValid(object, kStreamCapsule) != 0) {
        auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(object, kStreamCapsule));
        if (stream->release == nullptr) {
            return already_consumed(function, parameter, "arrow_array_stream");
        }
        chunks = ColumnChunks::of_stream(stream, kind, names);
    } else if ((PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_TUPLE_SUBCLASS) != 0 && PyTuple_Size(object) == 2 &&
               PyCapsule_IsValid(PyTuple_GetItem(object, 0), kSchemaCapsule) != 0 &&
               PyCapsule_IsValid(PyTuple_GetItem(object, 1), kArrayCapsule) != 0) {
        auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(PyTuple_GetItem(object, 0), kSchemaCapsule));
        auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(PyTuple_GetItem(object, 1), kArrayCapsule));
        if (array->release == nullptr) {
            return already_consumed(function, parameter, "arrow_array");
        }
        if (schema->release == nullptr) {
            return already_consumed(function, parameter, "arrow_schema");
        }
        chunks = ColumnChunks::of_array(schema, array, kind, names);
    } else {
        return PyErr::with_message(
            PyExc_TypeError, prefix(function, parameter) +
                                 " must be an \"arrow_array_stream\" capsule or a tuple of \"arrow_schema\" and "
                                 "\"arrow_array\" capsules, not '" +
                                 runtime::type_qualname_or(Py_TYPE(object), "<unknown type>") + "'");
    }
    if (auto* problem = std::get_if<Problem>(&chunks)) {
        return PyErr::with_message(exception_of(problem->refusal), prefix(function, parameter) + problem->text);
    }
    return ChunkSource(prefix(function, parameter), std::move(std::get<ColumnChunks>(chunks)));
}

PyResult<std::optional<Chunk>> ChunkSource::next() {
    std::variant<std::optional<Chunk>, Problem> next = chunks_.next();
    if (auto* problem = std::get_if<Problem>(&next)) {
        return PyErr::with_message(exception_of(problem->refusal), prefix_ + problem->text);
    }
    return std::move(std::get<std::optional<Chunk>>(next));
}

PyErr ChunkSource::corrupt_row(std::int64_t row) const {
    return PyErr::with_message(PyExc_ValueError, prefix_ + corrupt_row_text(row));
}

// ---- export -----------------------------------------------------------------

void export_schema(const ArrayData& prototype, ArrowSchema* out, std::string_view name) {
    auto* exported = new ExportedSchema();
    exported->format = format_of(prototype.kind);
    exported->name = std::string(name);
    const std::size_t child_count = prototype.kind == Kind::Struct ? prototype.children.size() : 0;
    exported->children.resize(child_count);
    for (std::size_t i = 0; i < child_count; ++i) {
        export_schema(*prototype.children[i], &exported->children[i], kFieldNames[i]);
        exported->child_pointers.push_back(&exported->children[i]);
    }
    *out = ArrowSchema{};
    out->format = exported->format.c_str();
    out->name = exported->name.c_str();
    out->metadata = nullptr;
    out->flags = ARROW_FLAG_NULLABLE;
    out->n_children = static_cast<std::int64_t>(child_count);
    out->children = child_count == 0 ? nullptr : exported->child_pointers.data();
    out->dictionary = nullptr;
    out->release = &release_exported_schema;
    out->private_data = exported;
}

void export_array(const ChunkPtr& chunk, ArrowArray* out) {
    auto* exported = new ExportedArray();
    exported->chunk = chunk;
    const ArrayData& data = *chunk;
    std::int64_t buffer_count = 3;
    exported->buffers[0] = data.null_count == 0 ? nullptr : data.validity.data();
    switch (data.kind) {
        case Kind::Utf8:
            exported->buffers[1] = data.offsets32.data();
            exported->buffers[2] = buffer_or_empty(data.data.data());
            break;
        case Kind::LargeUtf8:
            exported->buffers[1] = data.offsets64.data();
            exported->buffers[2] = buffer_or_empty(data.data.data());
            break;
        case Kind::Float64:
            exported->buffers[1] = buffer_or_empty(data.numbers.data());
            buffer_count = 2;
            break;
        case Kind::Struct:
            buffer_count = 1;
            exported->children.resize(data.children.size());
            for (std::size_t i = 0; i < data.children.size(); ++i) {
                export_array(data.children[i], &exported->children[i]);
                exported->child_pointers.push_back(&exported->children[i]);
            }
            break;
    }
    *out = ArrowArray{};
    out->length = data.length;
    out->null_count = data.null_count;
    out->offset = 0;
    out->n_buffers = buffer_count;
    out->n_children = static_cast<std::int64_t>(exported->child_pointers.size());
    out->buffers = exported->buffers;
    out->children = exported->child_pointers.empty() ? nullptr : exported->child_pointers.data();
    out->dictionary = nullptr;
    out->release = &release_exported_array;
    out->private_data = exported;
}

void export_stream(std::shared_ptr<const ColumnData> column, ArrowArrayStream* out) {
    *out = ArrowArrayStream{};
    out->get_schema = &stream_get_schema;
    out->get_next = &stream_get_next;
    out->get_last_error = &stream_get_last_error;
    out->release = &release_exported_stream;
    out->private_data = new ExportedStream{std::move(column), 0};
}

PyObject* schema_capsule(const ArrayData& prototype) {
    auto* schema = new ArrowSchema();
    export_schema(prototype, schema);
    return new_capsule(schema, kSchemaCapsule, &destroy_schema_capsule);
}

PyObject* array_capsule(const ChunkPtr& chunk) {
    auto* array = new ArrowArray();
    export_array(chunk, array);
    return new_capsule(array, kArrayCapsule, &destroy_array_capsule);
}

PyObject* stream_capsule(std::shared_ptr<const ColumnData> column) {
    auto* stream = new ArrowArrayStream();
    export_stream(std::move(column), stream);
    return new_capsule(stream, kStreamCapsule, &destroy_stream_capsule);
}

std::optional<PyErr> check_requested_schema(PyObject* requested, const ArrayData& prototype) {
    if (requested == nullptr || requested == Py_None) {
        return std::nullopt;
    }
    if (PyCapsule_IsValid(requested, kSchemaCapsule) == 0) {
        return PyErr::with_message(PyExc_TypeError,
                                   "requested_schema must be None or an \"arrow_schema\" capsule, not '" +
                                       runtime::type_qualname_or(Py_TYPE(requested), "<unknown type>") + "'");
    }
    const auto* schema = static_cast<const ArrowSchema*>(PyCapsule_GetPointer(requested, kSchemaCapsule));
    if (schema->release == nullptr) {
        return PyErr::with_message(PyExc_ValueError, std::string("requested_schema: the capsule was already consumed"));
    }
    if (std::optional<std::string> problem = check_schema(*schema)) {
        return PyErr::with_message(PyExc_ValueError, "requested_schema: the Arrow data is " + *problem);
    }
    if (same_type(*schema, prototype)) {
        return std::nullopt;
    }
    return PyErr::with_message(PyExc_ValueError,
                               std::string("requested_schema: this column is exported as its own type, ") +
                                   describe_prototype(prototype) + ", not as " + describe_format(*schema));
}

}  // namespace veltrane::native
