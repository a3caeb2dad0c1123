"""What the tests and benchmarks of veltrane_py_bindings and veltrane_vrn
share, defined once: sample names (`samples`), generated names (`names`), the
plain Python model of the module (`reference`), what a column function must
give (`column_model`), the optional engines (`engines`), runners of the `vrn`
command (`command`) and the settings of a test session (`session`).

The folder that holds this package is put on sys.path by the conftest.py of
bindings/tests and of python/tests, and by the scripts and benchmarks that run
on their own (`SUPPORT` below is that folder).
"""

from pathlib import Path

SUPPORT = Path(__file__).resolve().parent.parent
ROOT = SUPPORT.parents[2]
