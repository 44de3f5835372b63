#include "records/record_output.hpp"
#include "test_support.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace p2k {
namespace {

using bytes = std::vector<uint8_t>;

bytes file_bytes(const std::string& name) {
    std::string s = testing::read_file(name);
    return bytes(s.begin(), s.end());
}

void le32(bytes& b, int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

TEST(RecordOutput, WorkedExampleAndEmptyRecord) {
    testing::scratch_dir dir;
    record_output u;
    u.open_unknown(7, "r.bin");
    u.record(0.5, 0.025, int32_t{0});
    u.begin();
    u.end();
    u.record(int32_t{-99});
    u.close();
    const bytes want = {0x14, 0, 0, 0,                                  //
                        0, 0, 0, 0, 0, 0, 0xE0, 0x3F,                   // 0.5
                        0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x3F,  // 0.025
                        0, 0, 0, 0,                                     // 0
                        0x14, 0, 0, 0,                                  //
                        0, 0, 0, 0, 0, 0, 0, 0,                         // the empty record
                        4, 0, 0, 0, 0x9D, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0};
    EXPECT_EQ(file_bytes("r.bin"), want);
}

// Records of the sizes the binary field file uses, assembled and streamed, give the same framing.
TEST(RecordOutput, LengthFieldsOfAssembledAndStreamedRecords) {
    testing::scratch_dir dir;
    const std::vector<std::pair<int, uint32_t>> sizes = {{25, 200}, {201, 1608}, {6400, 51200}, {6401, 51208}, {125625, 1005000}};
    for (const auto& [count, n] : sizes) {
        record_output u;
        u.open_unknown(7, "r.bin");
        u.begin();
        for (int i = 0; i < count; ++i) u.put(static_cast<double>(i) * 0.5);
        u.end();
        u.close();
        bytes got = file_bytes("r.bin");
        ASSERT_EQ(got.size(), n + 8u) << count;
        bytes want;
        le32(want, static_cast<int32_t>(n));
        for (int i = 0; i < count; ++i) {
            double v = static_cast<double>(i) * 0.5;
            uint8_t b[8];
            std::memcpy(b, &v, 8);
            want.insert(want.end(), b, b + 8);
        }
        le32(want, static_cast<int32_t>(n));
        EXPECT_EQ(got, want) << count;
    }
}

// The framing of a record split into subrecords of at most `limit` bytes: leading length
// negative while more follows, trailing length negative after the first.
bytes framed(const bytes& data, size_t limit) {
    bytes out;
    size_t at = 0;
    bool first = true;
    do {
        size_t n = std::min(limit, data.size() - at);
        bool more = at + n < data.size();
        le32(out, more ? -static_cast<int32_t>(n) : static_cast<int32_t>(n));
        out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
        le32(out, first ? static_cast<int32_t>(n) : -static_cast<int32_t>(n));
        at += n;
        first = false;
    } while (at < data.size());
    return out;
}

TEST(RecordOutput, SubrecordsSmallLimitByHand) {
    testing::scratch_dir dir;
    record_output u(10);
    u.open_unknown(7, "r.bin");
    u.begin();
    for (int32_t i = 1; i <= 6; ++i) u.put(i);  // 24 data bytes: subrecords of 10, 10 and 4
    u.end();
    u.close();
    const bytes want = {0xF6, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 10, 0, 0, 0,
                        0xF6, 0xFF, 0xFF, 0xFF, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 0xF6, 0xFF, 0xFF, 0xFF,
                        4, 0, 0, 0, 6, 0, 0, 0, 0xFC, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(file_bytes("r.bin"), want);
}

TEST(RecordOutput, SubrecordsAcrossLimitsAndStreaming) {
    testing::scratch_dir dir;
    struct chained {
        uint32_t limit;
        size_t values;  // 32-bit integers in the record
    };
    const std::vector<chained> cases = {{8, 2}, {8, 3}, {12, 3}, {16, 9}, {60000, 40000}, {51200, 12800}, {100000, 30000}};
    for (const auto& c : cases) {
        record_output u(c.limit);
        u.open_unknown(7, "r.bin");
        bytes data;
        u.record(int32_t{7});
        u.begin();
        for (size_t i = 0; i < c.values; ++i) {
            int32_t v = static_cast<int32_t>(i * 2654435761u);
            u.put(v);
            le32(data, v);
        }
        u.end();
        u.close();
        bytes want = framed(bytes{7, 0, 0, 0}, c.limit);
        bytes rest = framed(data, c.limit);
        want.insert(want.end(), rest.begin(), rest.end());
        EXPECT_EQ(file_bytes("r.bin"), want) << c.limit << " " << c.values;
    }
}

// A block of reals handed over at once gives the bytes of the same reals put one by one, after
// a value that leaves the buffer unaligned, across subrecord limits and streamed records.
TEST(RecordOutput, BlockOfRealsMatchesSingleValues) {
    testing::scratch_dir dir;
    const std::vector<std::pair<uint32_t, size_t>> cases = {
        {12, 5}, {20, 3}, {record_output::default_subrecord_limit, 255}, {record_output::default_subrecord_limit, 6400},
        {record_output::default_subrecord_limit, 125625}, {60000, 20000}};
    for (const auto& [limit, count] : cases) {
        std::vector<double> v(count);
        for (size_t i = 0; i < count; ++i) v[i] = static_cast<double>(i) * 0.37 - 11.0;
        for (const char* name : {"one.bin", "block.bin"}) {
            record_output u(limit);
            u.open_unknown(7, name);
            u.begin();
            u.put(int32_t{5});
            if (name[0] == 'o') for (double x : v) u.put(x);
            else u.put(v.data(), v.size());
            u.end();
            u.close();
        }
        EXPECT_EQ(file_bytes("block.bin"), file_bytes("one.bin")) << limit << " " << count;
    }
}

TEST(RecordOutput, ExistingFileIsCutAfterTheFirstRecordOnly) {
    testing::scratch_dir dir;
    testing::write_file("old.bin", std::string(5000, 'x'));
    {
        record_output u;
        u.open_unknown(7, "old.bin");
        u.record(int32_t{1});
        u.record(int32_t{2});
        u.close();
    }
    EXPECT_EQ(file_bytes("old.bin").size(), 24u);

    testing::write_file("kept.bin", "old content");
    {
        record_output u;
        u.open_unknown(7, "kept.bin");
        u.close();
    }
    EXPECT_EQ(testing::read_file("kept.bin"), "old content");
}

TEST(RecordOutput, OpenFailures) {
    testing::scratch_dir dir;
    std::filesystem::create_directory("adir");
    record_output u;
    int unit = 0;
    std::string file;
    EXPECT_EQ(testing::failure_number([&] { u.open_unknown(7, "nodir/eh_EMS.#01"); }, &unit, &file), msg_file_not_found);
    EXPECT_EQ(unit, 7);
    EXPECT_EQ(file, dir.path() + "/nodir/eh_EMS.#01");
    EXPECT_EQ(testing::failure_number([&] { u.open_unknown(7, "adir"); }), msg_open_failure);
    EXPECT_EQ(testing::failure_number([&] { u.open_unknown(7, std::string(300, 'n')); }), msg_file_name_error);
}

// Runs `body` in a child process, as an unprivileged user when the tests run as root, and
// returns its exit status.
template <typename F>
int in_child(F body, bool drop_privileges) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (drop_privileges && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

TEST(RecordOutput, ReadOnlyFileFailsAtTheFirstWrite) {
    testing::scratch_dir dir;
    ::chmod(dir.path().c_str(), 0755);
    testing::write_file("ro.bin", "keep");
    ::chmod("ro.bin", 0444);
    testing::write_file("none.bin", "keep");
    ::chmod("none.bin", 0);
    auto attempt = [](const char* name) {
        return [name] {
            record_output u;
            return testing::failure_number([&] {
                u.open_unknown(7, name);
                u.record(int32_t{1});
            });
        };
    };
    EXPECT_EQ(in_child(attempt("ro.bin"), true), msg_write_readonly);
    EXPECT_EQ(in_child(attempt("none.bin"), true), msg_permission_denied);
    EXPECT_EQ(testing::read_file("ro.bin"), "keep");
}

TEST(RecordOutput, RefusedWriteReportsTheSystemError) {
    testing::scratch_dir dir;
    int status = in_child(
        [] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit lim{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &lim);
            record_output u;
            try {
                u.open_unknown(7, "big.bin");
                u.begin();
                for (int i = 0; i < 125625; ++i) u.put(1.0);
                u.end();
            } catch (const io_failure& f) {
                return f.number == msg_write_error && f.sys_errno == EFBIG ? 0 : 1;
            }
            return 2;
        },
        false);
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace p2k
