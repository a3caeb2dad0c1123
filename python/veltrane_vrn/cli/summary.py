"""The counts that close a run of `vrn`: the summary line (or record), and
with --stats the count of each token."""

from __future__ import annotations


def stats_table(counts: dict[str, int]) -> str:
    """A line per count that is not zero: the token (or "valid"), the count
    and its share of the names."""
    checked = sum(counts.values())
    shown = {key: count for key, count in counts.items() if count}
    width = max((len(str(count)) for count in shown.values()), default=1)
    lines = []
    for key, count in shown.items():
        share = 100 * count / checked
        percent = f"{share:5.1f}%" if share >= 0.05 else " <0.1%"
        lines.append(f"  {key:<17}  {count:>{width}}  {percent}\n")
    return "".join(lines)


def summary(counts: dict[str, int], as_json: bool, stats: bool) -> bytes:
    """The summary of the scanner's `counts` (valid first, then each token in
    the order of the checks), as a line or, with `as_json`, a record."""
    valid = counts["valid"]
    checked = sum(counts.values())
    invalid = checked - valid
    if as_json:
        import json

        record: dict[str, object] = {"checked": checked, "valid": valid, "invalid": invalid}
        if stats:
            record["tokens"] = {key: count for key, count in counts.items() if key != "valid"}
        return (json.dumps(record) + "\n").encode()
    text = f"checked {checked} names: {valid} valid, {invalid} invalid\n"
    return (text + stats_table(counts) if stats else text).encode()
