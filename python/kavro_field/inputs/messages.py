"""The converter's failure reports: each message number by name, its text, and the units the
reports name (a file's unit number, or the internal read of a header field)."""

# Message numbers of the converter's failure reports.
ACCESS_DENIED = 9
END_OF_FILE = 24
FILE_NOT_FOUND = 29
OPEN_FAILURE = 30
WRITE_ERROR = 38
READ_ERROR = 39
BAD_FILE_NAME = 43
READ_ONLY_FILE = 47
SYNTAX_ERROR = 59
TYPE_MISMATCH = 61
CONVERSION_ERROR = 64
MESSAGE_TEXTS = {
    ACCESS_DENIED: "permission to access file denied", END_OF_FILE: "end-of-file during read",
    FILE_NOT_FOUND: "file not found", OPEN_FAILURE: "open failure", WRITE_ERROR: "error during write",
    READ_ERROR: "error during read", BAD_FILE_NAME: "file name specification error",
    READ_ONLY_FILE: "write to READONLY file", SYNTAX_ERROR: "list-directed I/O syntax error",
    TYPE_MISMATCH: "format/variable-type mismatch", CONVERSION_ERROR: "input conversion error",
}
# The failures where the system refuses a file, as against its content.
OPEN_AND_READ_FAILURES = frozenset((ACCESS_DENIED, FILE_NOT_FOUND, OPEN_FAILURE, READ_ERROR, BAD_FILE_NAME))

# Units of the converter's files, and of the internal read of a header field.
CONTROL_UNIT = 1
TABLE_UNIT = 2
OUTPUT_UNIT = 7
INTERNAL_UNIT = -5
INTERNAL_FILE = "Internal List-Directed Read"
# The units whose failures concern the table.
TABLE_UNITS = (TABLE_UNIT, INTERNAL_UNIT)
