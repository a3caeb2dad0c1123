"""The `vrn` command line tool over the `veltrane_py_bindings` extension module.

Run it as `vrn` (installed console script) or `python -m veltrane_vrn`; the
entry point is `veltrane_vrn.cli.main`.
"""
