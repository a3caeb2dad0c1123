// The output of the `vrn` command's scanner as it waits to be written: the
// bytes for standard output and for standard error, and the order in which
// the two have to go out.
//
// The Python side takes what is pending after every scanner call and writes
// it. While the two streams may end up in one place (a terminal, `2>&1`),
// records must reach it in the order of the names, so the scanner stops after
// a record that went to the other stream than the bytes already pending
// (`must_stop`): pending output is then at most two runs, first one stream's,
// then the other's.
#pragma once

#include <cstddef>
#include <string>

namespace veltrane::scan {

// The values are the file descriptors, as the Python side sees them.
enum class Stream : int { Out = 1, Err = 2 };

class Output {
public:
    // Pending output past which a scanner call stops, so that it is written
    // out before more is made: what is held stays small, whatever the input.
    static constexpr std::size_t kFlushBytes = 256 << 10;

    explicit Output(bool keep_order) noexcept : keep_order_(keep_order) {}

    // The buffer to append one record for `stream` to.
    std::string& to(Stream stream) {
        if (out_.empty() && err_.empty()) {
            first_ = stream;
        }
        return stream == Stream::Out ? out_ : err_;
    }

    // Whether the scanner should stop and let what is pending be written.
    [[nodiscard]] bool must_stop() const noexcept {
        return out_.size() + err_.size() >= kFlushBytes || (keep_order_ && !out_.empty() && !err_.empty());
    }

    [[nodiscard]] bool empty() const noexcept { return out_.empty() && err_.empty(); }
    // The stream whose bytes go first, and the other one.
    [[nodiscard]] Stream first() const noexcept { return first_; }
    [[nodiscard]] const std::string& pending(Stream stream) const noexcept {
        return stream == Stream::Out ? out_ : err_;
    }
    [[nodiscard]] bool keep_order() const noexcept { return keep_order_; }

    // Moves what `later` holds (made from names after all of this one's)
    // behind what is pending here, each stream's bytes after its own.
    void append(Output& later) {
        if (empty()) {
            first_ = later.first_;
        }
        out_.append(later.out_);
        err_.append(later.err_);
        later.clear();
    }

    // Forgets what was pending (it has been handed over); the buffers keep
    // their capacity.
    void clear() noexcept {
        out_.clear();
        err_.clear();
    }

private:
    bool keep_order_;
    Stream first_ = Stream::Out;
    std::string out_;
    std::string err_;
};

}  // namespace veltrane::scan
