"""Reading a conversion's inputs by the converter's own rules: the control file and the table as
text (`textscan` for whole files and vectorised number scanning, `listread` for list-directed
reads with the converter's message numbers), the table's rows in bulk (`rows`), file names,
opening and the failures the system's refusals end a run with (`names`, `files`), the map the
converter prepares with its 3 x 3 approximation and sampling (`prepared`), and the run followed
through all of them to how it ends (`trace`, `outcome`); the units the table's header states
(`table_units`) and inputs that are not text at all (`nottext`)."""

from .prepared import Inputs
from .trace import Trace, read_inputs, sampled_trace, trace

__all__ = ["Inputs", "Trace", "read_inputs", "sampled_trace", "trace"]
