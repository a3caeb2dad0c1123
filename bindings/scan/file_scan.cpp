#include "scan/file_scan.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace veltrane::scan {

std::int64_t FileSource::read_at(char* into, std::size_t size, std::uint64_t offset) noexcept {
    while (true) {
        const ssize_t got = ::pread(fd_, into, size, static_cast<off_t>(offset));
        if (got >= 0) {
            return got;
        }
        if (errno != EINTR) {
            return -static_cast<std::int64_t>(errno);
        }
    }
}

std::size_t count_line_feeds(const char* at, std::size_t size) noexcept {
    std::size_t count = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time, counted in byte lanes for up to 255 steps (no
    // lane can overflow), then summed.
    const __m128i line_feed = _mm_set1_epi8('\n');
    while (size >= 16) {
        const std::size_t steps = std::min<std::size_t>(size / 16, 255);
        __m128i lanes = _mm_setzero_si128();
        for (std::size_t i = 0; i < steps; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * i));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, line_feed));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
        at += 16 * steps;
        size -= 16 * steps;
    }
#endif
    return count + static_cast<std::size_t>(std::count(at, at + size, '\n'));
}

FileScan::FileScan(NameScanner& scanner, ByteSource& source, std::uint64_t offset, std::size_t piece_bytes,
                   Helper helper)
    : scanner_(scanner),
      source_(source),
      piece_bytes_(std::max<std::size_t>(piece_bytes, 1)),
      apart_(scanner.can_scan_apart()),
      helper_mode_(helper),
      offset_(offset),
      lane2_(scanner.make_helper()) {
    first_.bytes.reset(new char[piece_bytes_]);
    if (apart_) {
        second_.bytes.reset(new char[piece_bytes_]);
    }
}

FileScan::~FileScan() {
    if (!helper_.joinable()) {
        return;
    }
    {
        std::unique_lock lock(mutex_);
        posted_ = false;
        changed_.wait(lock, [this] { return !busy_; });
        quit_ = true;
    }
    changed_.notify_all();
    helper_.join();
}

void FileScan::fill(Piece& piece, std::uint64_t offset) noexcept {
    piece.size = 0;
    piece.error = 0;
    while (piece.size < piece_bytes_) {
        const std::int64_t got =
            source_.read_at(piece.bytes.get() + piece.size, piece_bytes_ - piece.size, offset + piece.size);
        if (got < 0) {
            piece.error = static_cast<int>(-got);
            return;
        }
        if (got == 0) {
            return;
        }
        piece.size += static_cast<std::size_t>(got);
    }
}

void FileScan::run_helper() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return posted_ || quit_; });
        if (!posted_) {
            return;
        }
        posted_ = false;
        busy_ = true;
        lock.unlock();
        scan_second_piece();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

// On the helper thread.
void FileScan::scan_second_piece() {
    if (fill_first_) {
        fill(first_, round_offset_);
        {
            std::lock_guard lock(mutex_);
            first_filled_ = true;
        }
        changed_.notify_all();
    }
    fill(second_, round_offset_ + piece_bytes_);
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return first_filled_; });
    }
    if (first_.error != 0 || first_.size < piece_bytes_) {
        // The source ended (or failed) within the first piece: what the
        // second read holds, if the file grew meanwhile, is for the next round.
        second_.size = 0;
        second_.error = 0;
        return;
    }
    if (second_.error != 0) {
        return;
    }
    const char* const data = second_.bytes.get();
    const auto* line_feed = static_cast<const char*>(std::memchr(data, '\n', second_.size));
    if (line_feed == nullptr) {  // lane 1's line goes on through the whole piece
        head_end_ = second_.size;
        return;
    }
    head_end_ = static_cast<std::size_t>(line_feed - data) + 1;
    if (head_end_ == second_.size) {
        return;
    }
    // Lane 1 reports the lines that end in the first piece and the one that
    // ends at the second piece's first line feed.
    lane2_.number_from(round_line_ + count_line_feeds(first_.bytes.get(), first_.size) + 1);
    lane2_stop_ = lane2_.feed(std::string_view(data, second_.size), head_end_);
    lane2_ran_ = true;
}

void FileScan::set_up_round() {
    round_offset_ = offset_;
    round_line_ = scanner_.line();
    head_end_ = 0;
    lane2_ran_ = false;
    lane2_stop_ = 0;
    second_.size = 0;
    second_.error = 0;
    if (apart_) {
        scanner_.lend_source(lane2_);
        if (helper_mode_ != Helper::None && !helper_.joinable()) {
            try {
                helper_ = std::thread([this] { run_helper(); });
            } catch (const std::system_error&) {
                // No thread to be had: lane 1 takes every second piece itself.
            }
        }
    }
}

bool FileScan::post_round(bool fill_first) {
    if (!apart_ || !helper_.joinable()) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        posted_ = true;
        fill_first_ = fill_first;
        first_filled_ = false;
    }
    changed_.notify_all();
    return true;
}

void FileScan::start_round() {
    if (prefetched_) {
        prefetched_ = false;
        std::unique_lock lock(mutex_);
        if (!(posted_ && helper_mode_ == Helper::TakenBack)) {
            // The helper reads the first piece (or has read it): lane 1
            // starts on it as soon as it is there.
            changed_.wait(lock, [this] { return first_filled_; });
            return;
        }
        posted_ = false;  // not taken up while the report was written: lane 1 starts the round itself
    }
    set_up_round();
    const bool posted = post_round(false);
    fill(first_, round_offset_);
    if (posted) {
        {
            std::lock_guard lock(mutex_);
            first_filled_ = true;
        }
        changed_.notify_all();
    }
}

bool FileScan::take_back_second_piece() {
    if (!helper_.joinable()) {
        return true;
    }
    std::unique_lock lock(mutex_);
    if (posted_ && helper_mode_ == Helper::TakenBack) {
        posted_ = false;
        return true;
    }
    changed_.wait(lock, [this] { return !posted_ && !busy_; });
    return false;
}

void FileScan::read_second_piece_here() {
    if (first_.error == 0 && first_.size == piece_bytes_) {
        fill(second_, round_offset_ + piece_bytes_);
        head_end_ = second_.size;  // lane 1 goes on through all of it
    }
}

bool FileScan::must_write_out() const noexcept { return scanner_.output().must_stop(); }

FileScan::Step FileScan::step() {
    const auto undecodable = [this] { return scanner_.undecodable_line() != 0; };
    while (true) {
        switch (phase_) {
            case Phase::Idle:
                if (error_ != 0) {
                    return scanner_.output().empty() ? Step::Failed : Step::More;
                }
                if (at_end_ || undecodable()) {
                    return Step::Done;
                }
                start_round();
                phase_ = Phase::FirstPiece;
                at_ = 0;
                if (first_.error != 0) {
                    (void)take_back_second_piece();
                    error_ = first_.error;
                    phase_ = Phase::Idle;
                }
                break;
            case Phase::FirstPiece:
                at_ = scanner_.feed(std::string_view(first_.bytes.get(), first_.size), at_);
                if (at_ < first_.size || undecodable()) {
                    return Step::More;
                }
                // The helper's part, unless it has not begun: then, on a busy
                // machine that gave it no processor, lane 1 takes the piece on
                // rather than wait for it.
                if (apart_ && take_back_second_piece()) {
                    read_second_piece_here();
                }
                read_ += first_.size;
                offset_ += first_.size;
                if (second_.error != 0) {
                    error_ = second_.error;
                    phase_ = Phase::Idle;
                    break;
                }
                phase_ = Phase::Head;
                at_ = 0;
                if (must_write_out()) {
                    return Step::More;
                }
                break;
            case Phase::Head:
                at_ = scanner_.feed(std::string_view(second_.bytes.get(), head_end_), at_);
                if (at_ < head_end_ || undecodable()) {
                    return Step::More;
                }
                if (lane2_ran_) {
                    scanner_.absorb(lane2_);
                    ++taken_over_;
                    at_ = lane2_stop_;
                } else {
                    at_ = head_end_;
                }
                phase_ = Phase::Rest;
                if (undecodable() || must_write_out()) {
                    return Step::More;
                }
                break;
            case Phase::Rest:
                if (at_ < second_.size) {
                    at_ = scanner_.feed(std::string_view(second_.bytes.get(), second_.size), at_);
                    if (at_ < second_.size || undecodable()) {
                        return Step::More;
                    }
                }
                read_ += second_.size;
                offset_ += second_.size;
                at_end_ = first_.size < piece_bytes_ || (apart_ && second_.size < piece_bytes_);
                phase_ = Phase::Idle;
                if (!at_end_ && helper_mode_ != Helper::None) {
                    // The next round's reads (and its second lane) go on
                    // while the caller writes out this one's report.
                    set_up_round();
                    prefetched_ = post_round(true);
                }
                return Step::More;
        }
    }
}

}  // namespace veltrane::scan
