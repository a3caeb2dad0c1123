// The scan of a large regular file on two cores, with the report exactly as
// the scan of the same bytes a block at a time writes it.
//
// A round reads two pieces of the file at once, one on the caller's thread
// and one on a helper thread, and scans them at once:
//
//     first piece                     second piece
//     |............................|.....\n.............\n......|
//      lane 1: the scanner itself,       lane 2: a helper scanner, from the
//      from where it stood, up to and    line after it, numbered from the
//      with the first "\n" of the        line feeds of the first piece
//      second piece
//
// Lane 1 is the serial scan of those bytes. Lane 2 starts at a line start, so
// no line, "\r\n" or character is cut between the lanes, and its numbers are
// known once the line feeds of the first piece are counted (a quick pass).
// When lane 1 is done, the scanner takes over lane 2's output, counts and
// unfinished last line (NameScanner::absorb), and the next round goes on from
// there. Lane 2 runs only where its output may follow lane 1's
// (NameScanner::can_scan_apart); otherwise the rounds read one piece and scan
// it serially. When lane 1 is done with the first piece before the helper has
// taken up the second (a busy machine gave it no processor), lane 1 reads and
// scans the second piece itself rather than wait.
//
// The next round is handed to the helper (both reads, lane 2) before the
// caller writes out a round's report, so that writing overlaps scanning.
//
// Memory stays flat: two pieces, and each lane stops when its pending output
// reaches the flush limit, as the serial scan does. The caller writes out the
// pending output after every step; a lane that stopped goes on serially after
// that, and lane 2's output waits until lane 1 is done. A line that is not
// UTF-8 in lane 1 ends the source before anything of lane 2 is taken over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "scan/name_scanner.hpp"
#include "scan/state_changes.hpp"

namespace veltrane::scan {

// Where the bytes come from: a file read at an offset (pread), or memory in
// the tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes from `offset` into `into`: how many were read
    // (0 at the end), or minus the error number. Safe to call from two
    // threads at once.
    virtual std::int64_t read_at(char* into, std::size_t size, std::uint64_t offset) noexcept = 0;
};

// A file descriptor read with pread: its offset stays where it was.
class FileSource final : public ByteSource {
public:
    explicit FileSource(int fd) noexcept : fd_(fd) {}
    std::int64_t read_at(char* into, std::size_t size, std::uint64_t offset) noexcept override;

private:
    int fd_;
};

// The line feeds in `size` bytes from `at`.
[[nodiscard]] std::size_t count_line_feeds(const char* at, std::size_t size) noexcept;

class FileScan {
public:
    // Bytes per piece: a round scans two. Large enough that handing work to
    // the other thread costs little beside it, small enough that memory stays
    // near what the serial scan holds.
    static constexpr std::size_t kPieceBytes = 512 << 10;

    enum class Step {
        More,    // write out the pending output and step again
        Done,    // every byte read and scanned (an unfinished last line is held)
        Failed,  // a read failed: error() gives its number; nothing is pending
    };

    // Who scans the second pieces.
    enum class Helper {
        TakenBack,  // the helper thread, unless lane 1 gets there first
        Always,     // the helper thread: lane 1 waits for it (for the tests)
        None,       // lane 1 (as when no thread can be started)
    };

    // Scans `source` from `offset` into `scanner`, whose source was started.
    FileScan(NameScanner& scanner, ByteSource& source, std::uint64_t offset,
             std::size_t piece_bytes = kPieceBytes, Helper helper = Helper::TakenBack);
    ~FileScan();  // waits for the helper thread
    FileScan(const FileScan&) = delete;
    FileScan& operator=(const FileScan&) = delete;

    // Scans on until the scanner's output must be written out, a round is
    // done, a line is not UTF-8 (the scanner's undecodable_line), the end of
    // the source or a read error.
    Step step();

    // The bytes of the source read so far.
    [[nodiscard]] std::uint64_t bytes_read() const noexcept { return read_; }
    [[nodiscard]] int error() const noexcept { return error_; }
    // The rounds whose second lane ran apart and was taken over.
    [[nodiscard]] std::uint64_t lanes_taken_over() const noexcept { return taken_over_; }

private:
    struct Piece {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
        int error = 0;
    };
    enum class Phase { Idle, FirstPiece, Head, Rest };

    void fill(Piece& piece, std::uint64_t offset) noexcept;
    void set_up_round();
    // Gives the helper the round's second piece, and with `fill_first` its
    // first piece to read too; false when there is no helper.
    bool post_round(bool fill_first);
    void start_round();
    void run_helper();
    void scan_second_piece();
    // Whether lane 1 is to take the second piece itself (the helper has not
    // taken it up, or there is no helper); else waits until the helper is done.
    bool take_back_second_piece();
    void read_second_piece_here();
    [[nodiscard]] bool must_write_out() const noexcept;

    NameScanner& scanner_;
    ByteSource& source_;
    const std::size_t piece_bytes_;
    const bool apart_;
    const Helper helper_mode_;
    std::uint64_t offset_;
    std::uint64_t read_ = 0;
    bool at_end_ = false;
    int error_ = 0;
    std::uint64_t taken_over_ = 0;

    Phase phase_ = Phase::Idle;
    std::size_t at_ = 0;  // lane 1's place in the piece it is in
    Piece first_;
    Piece second_;
    std::uint64_t round_offset_ = 0;
    std::uint64_t round_line_ = 0;  // the scanner's line when the round began
    // Set by the helper during a round: where lane 1 ends in the second
    // piece, whether lane 2 ran and where it stopped.
    std::size_t head_end_ = 0;
    bool lane2_ran_ = false;
    std::size_t lane2_stop_ = 0;
    NameScanner lane2_;

    std::thread helper_;
    std::mutex mutex_;
    StateChanges changed_;
    bool posted_ = false;  // a second piece for the helper to take up
    bool fill_first_ = false;  // ... and the first piece to read before it
    bool prefetched_ = false;  // the round was posted at the end of the last one
    bool busy_ = false;    // the helper is at work on one
    bool first_filled_ = false;
    bool quit_ = false;
};

}  // namespace veltrane::scan
