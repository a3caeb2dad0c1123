"""Exit statuses of `vrn`, and the two failures that end a run with status 2."""

EXIT_VALID = 0
EXIT_INVALID = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130  # 128 + SIGINT, as a shell reports it
EXIT_BROKEN_PIPE = 141  # 128 + SIGPIPE


class UsageError(Exception):
    """A command line that cannot be run; exit status 2."""


class InputError(Exception):
    """An input that cannot be read (missing, unreadable, not UTF-8); exit status 2."""
