"""``python -m brackle``: the ``brackle`` command line."""

from brackle.cli import main

raise SystemExit(main())
