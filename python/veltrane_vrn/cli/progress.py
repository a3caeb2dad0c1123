"""The one-line progress report that `vrn` draws on standard error."""

from __future__ import annotations

import sys
import time

TYPE_CHECKING = False  # typing is kept out of the start-up time of every run
if TYPE_CHECKING:
    from typing import TextIO


class Progress:
    """A one-line progress report on standard error, redrawn ten times a second.

    Active only while reading a regular file of known size with standard error
    on a terminal; elsewhere every method does nothing.
    """

    INTERVAL_S = 0.1

    def __init__(self, stream: TextIO | None) -> None:
        self._stream = stream
        self._label = ""
        self._total = 0
        self._width = 0
        self._next_draw = 0.0

    @classmethod
    def on_stderr(cls) -> Progress:
        stream = sys.stderr
        return cls(stream if stream is not None and stream.isatty() else None)

    def start(self, label: str, total_bytes: int | None) -> None:
        self._label = label
        self._total = total_bytes or 0
        self._next_draw = time.monotonic() + self.INTERVAL_S

    def advance(self, done_bytes: int, done_lines: int) -> None:
        if self._stream is None or not self._total:
            return
        now = time.monotonic()
        if now < self._next_draw:
            return
        self._next_draw = now + self.INTERVAL_S
        percent = min(100, 100 * done_bytes // self._total)
        text = f"vrn: {self._label}: {percent}% ({done_lines:,} lines)"
        self._stream.write("\r" + text.ljust(self._width))
        self._stream.flush()
        self._width = len(text)

    def clear_before(self, stream: TextIO) -> None:
        """Blanks the line out before `stream` writes, if `stream` is on a
        terminal too (the line is drawn again at the next redraw)."""
        if self._width and stream.isatty():
            self.clear()

    def clear(self) -> None:
        if self._stream is not None and self._width:
            self._stream.write("\r" + " " * self._width + "\r")
            self._stream.flush()
            self._width = 0
