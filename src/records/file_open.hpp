// Opening files by name: the one naming rule of every open, the full path quoted in reports, and
// the mapping of the system's refusals onto the message numbers.
#pragma once

#include <string>
#include <string_view>

namespace p2k {

// Leading blanks removed, then trailing blanks and NUL characters; at most 256 characters kept.
std::string open_name(std::string_view fixed);

// The name made absolute against the working directory, "." and ".." folded.
std::string full_path(const std::string& name);

// Opens an existing file for reading. Throws io_failure (29, 9, 43 or 30) on refusal.
int open_old_for_reading(int unit, const std::string& name, const std::string& path);

// Opens for reading and writing, creating a missing file and keeping an existing one's content;
// when read-write access is refused, opens read-only and sets `read_only`.
int open_unknown_for_writing(int unit, const std::string& name, const std::string& path, bool& read_only);

// True when the descriptor is a regular file (the only kind that is cut after the first record).
bool is_regular_file(int fd);

}  // namespace p2k
