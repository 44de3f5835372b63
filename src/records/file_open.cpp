#include "records/file_open.hpp"

#include "records/failure.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace p2k {

std::string open_name(std::string_view fixed) {
    size_t b = 0;
    while (b < fixed.size() && fixed[b] == ' ') ++b;
    size_t e = fixed.size();
    while (e > b && (fixed[e - 1] == ' ' || fixed[e - 1] == '\0')) --e;
    std::string name(fixed.substr(b, e - b));
    if (name.size() > 256) name.resize(256);
    return name;
}

std::string full_path(const std::string& name) {
    std::string joined;
    if (name.empty() || name[0] != '/') {
        std::vector<char> cwd(4096);
        while (::getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE) cwd.resize(cwd.size() * 2);
        joined = cwd.data();
        joined += '/';
    }
    joined += name;

    std::vector<std::string_view> parts;
    std::string_view rest(joined);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (std::string_view p : parts) {
        out += '/';
        out += p;
    }
    return out.empty() ? "/" : out;
}

namespace {

// A NUL inside a name cannot be passed to the system, which would open the name cut there.
void check_name(int unit, const std::string& name, const std::string& path) {
    if (name.find('\0') != std::string::npos) throw io_failure(msg_file_name_error, unit, path);
}

[[noreturn]] void open_refused(int unit, const std::string& path, int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR: throw io_failure(msg_file_not_found, unit, path);
    case EACCES:
    case EPERM: throw io_failure(msg_permission_denied, unit, path);
    case ENAMETOOLONG: throw io_failure(msg_file_name_error, unit, path);
    default: throw io_failure(msg_open_failure, unit, path, err);
    }
}

int open_retrying(const std::string& name, int flags) {
    int fd;
    do fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int open_old_for_reading(int unit, const std::string& name, const std::string& path) {
    check_name(unit, name, path);
    // Without O_NONBLOCK the open of a FIFO would wait for a writer forever; once open, reads
    // block as usual, and a FIFO without a writer reads as an empty file.
    int fd = open_retrying(name, O_RDONLY | O_NONBLOCK);
    if (fd < 0) open_refused(unit, path, errno);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int err = errno;
        ::close(fd);
        throw io_failure(msg_open_failure, unit, path, err);
    }
    return fd;
}

int open_unknown_for_writing(int unit, const std::string& name, const std::string& path, bool& read_only) {
    read_only = false;
    check_name(unit, name, path);
    int fd = open_retrying(name, O_RDWR | O_CREAT);
    if (fd >= 0) return fd;
    int err = errno;
    if (err == EACCES || err == EPERM || err == EROFS) {
        fd = open_retrying(name, O_RDONLY);
        if (fd >= 0) {
            read_only = true;
            return fd;
        }
        throw io_failure(msg_permission_denied, unit, path);
    }
    open_refused(unit, path, err);
}

bool is_regular_file(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace p2k
