// The list-directed cases of tests/data/list_directed_cases.tsv, which the companion's tests read
// too: each input is written to a file and read by one statement, as the control file is.
#include "records/list_input.hpp"
#include "test_support.hpp"

#include <cstring>
#include <sstream>
#include <vector>

namespace p2k {
namespace {

struct table_case {
    int line;  // in the table file
    std::string items, input, expected, next;
};

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == 'r') out += '\r';
        else if (c == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

std::vector<table_case> load_cases() {
    std::istringstream in(testing::read_file(P2K_SOURCE_DIR "/tests/data/list_directed_cases.tsv"));
    std::vector<table_case> cases;
    std::string row;
    for (int line = 1; std::getline(in, row); ++line) {
        if (row.empty() || row[0] == '#') continue;
        std::vector<std::string> f;
        size_t start = 0;
        for (size_t tab; (tab = row.find('\t', start)) != std::string::npos; start = tab + 1) f.push_back(row.substr(start, tab - start));
        f.push_back(row.substr(start));
        if (f.size() != 4) ADD_FAILURE() << "table line " << line << ": " << f.size() << " fields";
        else cases.push_back({line, f[0], unescape(f[1]), f[2], unescape(f[3])});
    }
    return cases;
}

// "-0" and "0" differ: the sign of a zero is part of the value.
bool same_real(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ListDirectedTable, EveryCaseAsTheTableSays) {
    const std::vector<table_case> cases = load_cases();
    ASSERT_GT(cases.size(), 50u);
    for (const table_case& c : cases) {
        SCOPED_TRACE("table line " + std::to_string(c.line) + ": " + c.items + " from '" + c.input + "'");
        testing::scratch_dir dir;
        testing::write_file("input.txt", c.input);
        text_input in;
        in.open_old(1, "input.txt");
        std::vector<int32_t> ints(c.items.size(), 7);
        std::vector<double> reals(c.items.size(), 0.5);
        std::vector<list_item> items;
        for (size_t k = 0; k < c.items.size(); ++k) items.push_back(c.items[k] == 'i' ? item(ints[k]) : item(reals[k]));
        std::string got;
        try {
            read_list(in, items.data(), items.size());
        } catch (const io_failure& f) {
            got = "fail " + std::to_string(f.number);
        }
        if (c.expected.rfind("fail ", 0) == 0) {
            EXPECT_EQ(got, c.expected);
            continue;
        }
        ASSERT_EQ(got, "");
        std::istringstream want(c.expected);
        for (size_t k = 0; k < c.items.size(); ++k) {
            std::string v;
            want >> v;
            if (c.items[k] == 'i') EXPECT_EQ(ints[k], std::stol(v)) << "item " << k + 1;
            else EXPECT_TRUE(same_real(reals[k], std::strtod(v.c_str(), nullptr))) << "item " << k + 1 << ": " << reals[k];
        }
        std::string_view next;
        EXPECT_EQ(in.next_line(next) ? std::string(next) : std::string("EOF"), c.next);
    }
}

}  // namespace
}  // namespace p2k
