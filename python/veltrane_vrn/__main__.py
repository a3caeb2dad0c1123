"""`python -m veltrane_vrn`: the same as the `vrn` command."""

from veltrane_vrn.cli import main

raise SystemExit(main())
