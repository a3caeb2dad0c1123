"""VRNs for Python: the `Vrn` value type, column functions over Arrow data
(`veltrane_vrn.columns`) and the `vrn` command line tool, over the
`veltrane_py_bindings` extension module and its kernel.

Run the command as `vrn` (installed console script) or `python -m veltrane_vrn`;
its entry point is `veltrane_vrn.cli.main`.
"""

from veltrane_vrn._native import Vrn as Vrn

__all__ = ["Vrn"]
