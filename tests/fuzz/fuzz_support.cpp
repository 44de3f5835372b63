#include "fuzz_check.hpp"

#include <cstdlib>
#include <unistd.h>

namespace p2k_fuzz {

std::string scratch_dir() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/p2k-fuzz-XXXXXX";
        const char* d = ::mkdtemp(tmpl);
        if (d == nullptr) broken("mkdtemp failed");
        return std::string(d);
    }();
    return dir;
}

}  // namespace p2k_fuzz
