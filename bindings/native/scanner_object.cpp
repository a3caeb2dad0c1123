#include "native/scanner_object.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <memory>
#include <new>
#include <utility>
#include <optional>
#include <string>
#include <variant>

#include "native/capsules.hpp"
#include "arrow/string_reader.hpp"
#include "runtime/arguments.hpp"
#include "runtime/detach.hpp"
#include "runtime/fault.hpp"
#include "runtime/frame.hpp"
#include "runtime/object_layout.hpp"
#include "runtime/once_cell.hpp"
#include "scan/file_scan.hpp"
#include "scan/name_scanner.hpp"

#include <unistd.h>

namespace veltrane::native {
namespace {

using namespace veltrane::runtime;
using namespace veltrane::scan;
using namespace veltrane::arrow;
using veltrane_kernel::VrnError;

// A regular file being scanned by feed_file, a round at a time.
struct FileInProgress {
    int fd;
    FileSource source;
    FileScan scan;

    FileInProgress(int fd_, NameScanner& scanner, std::uint64_t offset)
        : fd(fd_), source(fd_), scan(scanner, source, offset) {}
};

struct ScannerData {
    NameScanner* scanner;
    // Held by a method for its whole call, so that one thread at a time uses
    // the scanner: with the interpreter lock (a scan runs without it) and
    // without one (the free-threaded build).
    std::atomic<bool> claimed;
    FileInProgress* file;  // feed_file's file until it is done
};

using Layout = ObjectLayout<ScannerData>;

ScannerData* as_scanner(PyObject* self) { return Layout::data(self); }

// Forgets feed_file's file (waiting for its helper thread, without the
// lock); any other scan of the scanner starts over from what it holds.
void drop_file(PyObject* self) {
    FileInProgress* const file = as_scanner(self)->file;
    if (file != nullptr) {
        as_scanner(self)->file = nullptr;
        without_interpreter([file] { delete file; });
    }
}

PyObject* none() {
    Py_IncRef(Py_None);
    return Py_None;
}


// The scanner of `self`, claimed by this call until the end of its scope, or
// the RuntimeError of a scanner another thread is using right now.
class Claim {
public:
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    Claim(Claim&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Claim& operator=(Claim&&) = delete;
    ~Claim() {
        if (object_ != nullptr) {
            object_->claimed.store(false, std::memory_order_release);
        }
    }

    static PyResult<Claim> of(PyObject* self) {
        ScannerData* const object = as_scanner(self);
        if (object->claimed.exchange(true, std::memory_order_acquire)) {
            return PyErr::with_message(PyExc_RuntimeError,
                                       std::string_view("the NameScanner is in use by another thread"));
        }
        return Claim(object);
    }

    [[nodiscard]] NameScanner* scanner() const noexcept { return object_->scanner; }

private:
    explicit Claim(ScannerData* object) noexcept : object_(object) {}
    ScannerData* object_;
};

// The bytes of an object with the buffer protocol (bytes, bytearray,
// memoryview), held until the end of the scope. A held bytearray cannot be
// resized, so the bytes stay put while they are scanned without the lock.
class HeldBytes {
public:
    HeldBytes() = default;
    ~HeldBytes() {
        if (held_) {
            PyBuffer_Release(&view_);
        }
    }
    HeldBytes(const HeldBytes&) = delete;
    HeldBytes& operator=(const HeldBytes&) = delete;

    std::optional<PyErr> hold(PyObject* object, std::string_view parameter) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) != 0) {
            return note_argument_error(parameter, PyErr::fetch_pending());
        }
        held_ = true;
        return std::nullopt;
    }
    [[nodiscard]] std::string_view bytes() const noexcept {
        return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// An optional position argument: 0 when absent; never negative.
PyResult<std::size_t> position(PyObject* slot, std::string_view parameter) {
    if (slot == nullptr) {
        return std::size_t{0};
    }
    PyResult<std::int64_t> value = extract_i64(slot);
    if (!value) {
        return note_argument_error(parameter, value.take_error());
    }
    if (*value < 0) {
        return PyErr::with_message(PyExc_ValueError, std::string(parameter) + " must not be negative");
    }
    return static_cast<std::size_t>(*value);
}

// ---- the methods -------------------------------------------------------------

constexpr std::string_view kLabelParameters[] = {"text_label", "json_label"};
constexpr std::string_view kFeedParameters[] = {"block", "at"};
constexpr std::string_view kNameParameters[] = {"text"};
constexpr std::string_view kColumnParameters[] = {"array", "at"};
constexpr CallSignature kStartSource{"start_source", kLabelParameters};
constexpr CallSignature kFeed{"feed", kFeedParameters, 0, 1};
constexpr CallSignature kEndSource{"end_source", {}};
constexpr CallSignature kName{"name", kNameParameters};
constexpr CallSignature kColumn{"column", kColumnParameters, 0, 1};
constexpr std::string_view kFeedFileParameters[] = {"fd"};
constexpr CallSignature kFeedFile{"feed_file", kFeedFileParameters};
constexpr CallSignature kTake{"take", {}};
constexpr CallSignature kCounts{"counts", {}};

PyResult<PyObject*> start_source_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[2];
    if (std::optional<PyErr> error = bind_arguments(kStartSource, call, slots)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    HeldBytes text_label;
    HeldBytes json_label;
    if (std::optional<PyErr> error = text_label.hold(slots[0], "text_label")) {
        return std::move(*error);
    }
    if (std::optional<PyErr> error = json_label.hold(slots[1], "json_label")) {
        return std::move(*error);
    }
    drop_file(self);
    scanner->start_source(text_label.bytes(), json_label.bytes());
    return none();
}

PyResult<PyObject*> feed_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[2] = {nullptr, nullptr};
    if (std::optional<PyErr> error = bind_arguments(kFeed, call, slots)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    HeldBytes block;
    if (std::optional<PyErr> error = block.hold(slots[0], "block")) {
        return std::move(*error);
    }
    PyResult<std::size_t> at = position(slots[1], "at");
    if (!at) {
        return at.take_error();
    }
    drop_file(self);
    const std::string_view bytes = block.bytes();
    const std::size_t from = *at;
    const std::size_t reached = without_interpreter([scanner, bytes, from] { return scanner->feed(bytes, from); });
    return made_or_fault(PyLong_FromSize_t(reached));
}

PyResult<PyObject*> end_source_body(PyObject* self, const CallArgs& call) {
    if (std::optional<PyErr> error = bind_arguments(kEndSource, call, nullptr)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    drop_file(self);
    scanner->end_source();
    return none();
}

PyResult<PyObject*> name_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kName, call, slots)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    HeldBytes text;
    if (std::optional<PyErr> error = text.hold(slots[0], "text")) {
        return std::move(*error);
    }
    drop_file(self);
    scanner->name(text.bytes());
    return none();
}

// Where a run over the rows of a chunk stopped, and whether because a row
// must be written out first (rather than at the end of the rows given).
struct RowsStop {
    std::int64_t row;
    bool stopped;
};

// Rows [first, end) of a chunk: rows before its first corrupt row, so no read
// checks anything.
RowsStop scan_rows(NameScanner& scanner, const StringChunkReader& reader, std::int64_t first, std::int64_t end) {
    std::string_view text;
    for (std::int64_t row = first; row < end; ++row) {
        if (reader.read(row, text) == Cell::Null) {
            scanner.null_name();
        } else {
            scanner.name(text);
        }
        if (scanner.undecodable_line() != 0 || scanner.output().must_stop()) {
            return {row + 1, true};
        }
    }
    return {end, false};
}

// a + b for row counts, which a made-up chunk's length may push past 2**63.
std::int64_t add_rows(std::int64_t a, std::int64_t b) noexcept { return a > INT64_MAX - b ? INT64_MAX : a + b; }

// column(array, at=0): the rows of a string column from row `at` on, until
// the end or a stop (as feed stops); returns the row it stopped before.
PyResult<PyObject*> column_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[2] = {nullptr, nullptr};
    if (std::optional<PyErr> error = bind_arguments(kColumn, call, slots)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    PyResult<std::size_t> at = position(slots[1], "at");
    if (!at) {
        return at.take_error();
    }
    PyResult<ChunkSource> source =
        ChunkSource::open(slots[0], kColumn.function_name, "array", ColumnKind::Strings, ChunkNames::Unnumbered);
    if (!source) {
        return source.take_error();
    }
    drop_file(self);
    const auto start = static_cast<std::int64_t>(std::min<std::size_t>(*at, INT64_MAX));
    std::int64_t before = 0;  // the rows of the chunks before this one
    while (true) {
        PyResult<std::optional<Chunk>> next = source.value().next();
        if (!next) {
            return next.take_error();
        }
        if (!next.value()) {
            break;
        }
        const Chunk chunk = std::move(*next.value());
        const std::int64_t length = chunk.length();
        if (start - before >= length) {
            before = add_rows(before, length);  // a chunk before `at`: not read
            continue;
        }
        const StringChunkReader reader(chunk.view());
        const std::int64_t first = std::max<std::int64_t>(start - before, 0);
        const std::int64_t clean = chunk.first_corrupt_row(first);
        const RowsStop stop = without_interpreter(
            [scanner, &reader, first, clean] { return scan_rows(*scanner, reader, first, clean); });
        if (!stop.stopped && clean < length) {
            return source.value().corrupt_row(add_rows(before, clean));
        }
        if (stop.row < length) {
            return made_or_fault(PyLong_FromLongLong(add_rows(before, stop.row)));
        }
        before = add_rows(before, length);
    }
    return made_or_fault(PyLong_FromLongLong(std::max(before, start)));
}

PyObject* os_error(int number) {
    errno = number;
    PyErr_SetFromErrno(PyExc_OSError);
    return nullptr;
}

// feed_file(fd): the lines of the regular file open at `fd`, from its offset
// on (read with pread: the offset stays), on two threads where the output
// allows. Returns the bytes read so far after each stop (write out what is
// pending and call again), None once every byte is scanned (then end_source).
PyResult<PyObject*> feed_file_body(PyObject* self, const CallArgs& call) {
    PyObject* slots[1];
    if (std::optional<PyErr> error = bind_arguments(kFeedFile, call, slots)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    PyResult<std::int64_t> fd = extract_i64(slots[0]);
    if (!fd) {
        return note_argument_error("fd", fd.take_error());
    }
    if (*fd < 0 || *fd > INT32_MAX) {
        return PyErr::with_message(PyExc_ValueError, std::string_view("fd must be an open file descriptor"));
    }
    ScannerData* const object = as_scanner(self);
    if (object->file != nullptr && object->file->fd != *fd) {
        drop_file(self);
    }
    if (object->file == nullptr) {
        const off_t offset = ::lseek(static_cast<int>(*fd), 0, SEEK_CUR);
        if (offset < 0) {
            os_error(errno);
            return PyErr::fetch_pending();
        }
        object->file = new FileInProgress(static_cast<int>(*fd), *scanner, static_cast<std::uint64_t>(offset));
    }
    FileScan* const scan = &object->file->scan;
    const FileScan::Step step = without_interpreter([scan] { return scan->step(); });
    if (step == FileScan::Step::More) {
        return made_or_fault(PyLong_FromUnsignedLongLong(scan->bytes_read()));
    }
    const int error = scan->error();
    drop_file(self);
    if (step == FileScan::Step::Failed) {
        os_error(error);
        return PyErr::fetch_pending();
    }
    return none();
}

PyObject* pending_pair(Stream stream, const std::string& bytes) {
    OwnedRef data(made_or_fault(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()))));
    OwnedRef fd(made_or_fault(PyLong_FromLong(static_cast<long>(stream))));
    PyObject* pair = made_or_fault(PyTuple_New(2));
    PyTuple_SetItem(pair, 0, fd.release_ownership());  // steals
    PyTuple_SetItem(pair, 1, data.release_ownership());
    return pair;
}

// take(): the pending output as (fd, bytes) pairs, in the order to write them.
PyResult<PyObject*> take_body(PyObject* self, const CallArgs& call) {
    if (std::optional<PyErr> error = bind_arguments(kTake, call, nullptr)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    Output& output = scanner->output();
    const Stream first = output.first();
    const Stream order[] = {first, first == Stream::Out ? Stream::Err : Stream::Out};
    OwnedRef pairs[2];
    Py_ssize_t count = 0;
    for (Stream stream : order) {
        if (!output.pending(stream).empty()) {
            pairs[count++] = OwnedRef(pending_pair(stream, output.pending(stream)));
        }
    }
    PyObject* taken = made_or_fault(PyTuple_New(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyTuple_SetItem(taken, i, pairs[i].release_ownership());
    }
    output.clear();
    return taken;
}

// counts(): {"valid": n, "empty": n, "too-long": n, ...} in the order of the checks.
PyResult<PyObject*> counts_body(PyObject* self, const CallArgs& call) {
    if (std::optional<PyErr> error = bind_arguments(kCounts, call, nullptr)) {
        return std::move(*error);
    }
    PyResult<Claim> claim = Claim::of(self);
    if (!claim) {
        return claim.take_error();
    }
    NameScanner* const scanner = claim.value().scanner();
    const NameScanner::Counts& counts = scanner->counts();
    OwnedRef result(made_or_fault(PyDict_New()));
    const auto put = [&result](std::string_view key, std::uint64_t count) {
        const std::string name(key);
        OwnedRef value(made_or_fault(PyLong_FromUnsignedLongLong(count)));
        if (PyDict_SetItemString(result.get(), name.c_str(), value.get()) != 0) {
            null_result_fault();
        }
    };
    put("valid", counts[0]);
    for (VrnError::Kind kind : VrnError::kCheckOrder) {
        put(VrnError(kind).kind(), counts[1 + static_cast<std::size_t>(kind)]);
    }
    return result.release_ownership();
}

PyObject* line_getter(PyObject* self, void* /*closure*/) {
    return call_frame([self]() -> PyResult<PyObject*> {
        PyResult<Claim> claim = Claim::of(self);
        if (!claim) {
            return claim.take_error();
        }
        NameScanner* const scanner = claim.value().scanner();
        return made_or_fault(PyLong_FromUnsignedLongLong(scanner->line()));
    });
}

PyObject* undecodable_line_getter(PyObject* self, void* /*closure*/) {
    return call_frame([self]() -> PyResult<PyObject*> {
        PyResult<Claim> claim = Claim::of(self);
        if (!claim) {
            return claim.take_error();
        }
        NameScanner* const scanner = claim.value().scanner();
        return made_or_fault(PyLong_FromUnsignedLongLong(scanner->undecodable_line()));
    });
}

// ---- the type ----------------------------------------------------------------

std::optional<Command> command_named(std::string_view name) {
    constexpr std::pair<std::string_view, Command> kCommands[] = {
        {"check", Command::Check}, {"canon", Command::Canon}, {"fields", Command::Fields}, {"cedar", Command::Cedar}};
    for (const auto& [text, command] : kCommands) {
        if (name == text) {
            return command;
        }
    }
    return std::nullopt;
}

// NameScanner(command, json=False, keep_order=True)
PyObject* scanner_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call_frame([&]() -> PyResult<PyObject*> {
        static const char* keywords[] = {"command", "json", "keep_order", nullptr};
        const char* command_text = nullptr;
        int json = 0;
        int keep_order = 1;
        if (PyArg_ParseTupleAndKeywords(args, kwargs, "s|pp:NameScanner", const_cast<char**>(keywords),
                                        &command_text, &json, &keep_order) == 0) {
            return PyErr::fetch_pending();
        }
        const std::optional<Command> command = command_named(command_text);
        if (!command) {
            return PyErr::with_message(PyExc_ValueError, "NameScanner(): command must be 'check', 'canon', "
                                                         "'fields' or 'cedar', not '" +
                                                             std::string(command_text) + "'");
        }
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        OwnedRef object(made_or_fault(alloc(type, 0)));
        ScannerData* const data = new (as_scanner(object.get())) ScannerData{nullptr, false, nullptr};
        data->scanner = new NameScanner(*command, json != 0, keep_order != 0);
        return object.release_ownership();
    });
}

void scanner_dealloc(PyObject* self) {
    drop_file(self);
    delete as_scanner(self)->scanner;
    as_scanner(self)->~ScannerData();
    free_instance(self);
}

constexpr int kMethodFlags = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"start_source", instance_method_of<start_source_body>(), kMethodFlags,
     "start_source($self, /, text_label, json_label)\n--\n\n"
     "The next source: how text output shows its name, and its name as a JSON string; lines from 1."},
    {"feed", instance_method_of<feed_body>(), kMethodFlags,
     "feed($self, /, block, at=0)\n--\n\n"
     "Scans the bytes of `block` from `at` on, without the interpreter lock, and returns where it "
     "stopped:\nat the end, after a record that must be written out first, or at a line that is not "
     "UTF-8\n(undecodable_line then gives its number)."},
    {"end_source", instance_method_of<end_source_body>(), kMethodFlags,
     "end_source($self, /)\n--\n\nThe end of the source: a last line without a line feed is a line."},
    {"name", instance_method_of<name_body>(), kMethodFlags,
     "name($self, /, text)\n--\n\nOne whole name given as bytes (a line feed in it is part of the name)."},
    {"column", instance_method_of<column_body>(), kMethodFlags,
     "column($self, /, array, at=0)\n--\n\n"
     "The rows of an Arrow string array (the capsules of __arrow_c_array__ or __arrow_c_stream__)\n"
     "from row `at` on, without the interpreter lock; a null row is an empty name. Returns the row\n"
     "it stopped before, as feed does."},
    {"feed_file", instance_method_of<feed_file_body>(), kMethodFlags,
     "feed_file($self, /, fd)\n--\n\n"
     "Scans the lines of the regular file open at `fd` from its offset on (read at offsets: the\n"
     "offset stays), without the interpreter lock and on two threads where the output allows.\n"
     "Returns the bytes read so far when the pending output is to be written out first (call\n"
     "again with the same fd), or None when the file is scanned to its end (then end_source)."},
    {"take", instance_method_of<take_body>(), kMethodFlags,
     "take($self, /)\n--\n\nThe pending output as (fd, bytes) pairs (1: standard output, 2: standard "
     "error),\nin the order to write them; it is then no longer pending."},
    {"counts", instance_method_of<counts_body>(), kMethodFlags,
     "counts($self, /)\n--\n\nThe names seen so far: 'valid', then each error token in the order of "
     "the checks."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kProperties[] = {
    {"line", &line_getter, nullptr, "The number the next line (or name) of the source gets.", nullptr},
    {"undecodable_line", &undecodable_line_getter, nullptr,
     "The number of the line that was refused as not UTF-8, or 0.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "NameScanner(command, json=False, keep_order=True)\n--\n\n"
                    "The engine of the `vrn` command: checks names given as blocks of lines, whole names "
                    "or Arrow\ncolumns, and keeps the report (text or JSON Lines) and the counts per token.\n"
                    "command is 'check', 'canon', 'fields' or 'cedar'; keep_order keeps the records of "
                    "standard\noutput and standard error in the order of the names.")},
    {Py_tp_new, reinterpret_cast<void*>(&scanner_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&scanner_dealloc)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kProperties},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "veltrane_vrn._native.NameScanner",
    Layout::kBasicSize,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    kSlots,
};

HeapType g_scanner_type(kSpec);

}  // namespace

PyObject* name_scanner_type() { return g_scanner_type.get(); }

}  // namespace veltrane::native
