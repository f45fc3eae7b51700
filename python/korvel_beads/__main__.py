"""python -m korvel_beads: the korvel-beads command line."""

import sys

from korvel_beads.cli import main

sys.exit(main())
