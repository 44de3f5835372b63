"""`python3 -m kavro_field`: the command line."""

import sys

from .cli import main

sys.exit(main())
