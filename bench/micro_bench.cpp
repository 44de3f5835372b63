// Micro-benchmarks of the hot paths of a conversion: one 24-column real field, one
// list-directed read of a table row, one EB2D_APPR call.
#include "field3d/eb2d_appr.hpp"
#include "records/list_input.hpp"
#include "records/number_fields.hpp"
#include "state/run_state.hpp"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Field values as a conversion writes them: mostly moderate magnitudes in fixed form, with small
// and large ones, zeros and exact decimals in exponent form.
std::vector<double> real_mix(size_t n) {
    std::mt19937_64 gen(12345);
    std::uniform_real_distribution<double> mant(1.0, 10.0);
    std::uniform_int_distribution<int> exp10(-12, 17);
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<double> v(n);
    for (double& x : v) {
        const int p = pick(gen);
        if (p == 0) x = 0.0;
        else if (p == 1) x = static_cast<double>(exp10(gen) + 20) * 0.25;  // short decimals
        else x = mant(gen) * std::pow(10.0, exp10(gen));
        if (pick(gen) < 5) x = -x;
    }
    return v;
}

// One 24-column field per iteration, from the values in turn (a power of two of them).
void format_each(benchmark::State& state, const std::vector<double>& values) {
    char out[p2k::real_field_width];
    size_t i = 0;
    for (auto _ : state) {
        p2k::format_real24(values[i], out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        i = (i + 1) & (values.size() - 1);
    }
}

void BM_format_real24(benchmark::State& state) {
    format_each(state, real_mix(4096));
    state.counters["ns_per_value"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_format_real24);

// Sampled field values as a text field file holds them: fixed form, both signs, magnitudes from
// 0.1 to 1e4.
void BM_format_real24_field(benchmark::State& state) {
    std::mt19937_64 gen(4242);
    std::uniform_real_distribution<double> mag(-1.0, 4.0);
    std::vector<double> values(4096);
    for (double& x : values) x = (gen() % 2 ? -1 : 1) * std::pow(10.0, mag(gen));
    format_each(state, values);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_format_real24_field);

// Rows in the solver's layout: "r z Er Ez" with 8 and 9 significant digits.
std::vector<std::string> table_rows(size_t n) {
    std::mt19937_64 gen(777);
    std::uniform_real_distribution<double> field(-400.0, 400.0);
    std::vector<std::string> rows;
    for (size_t k = 0; k < n; ++k) {
        char b[128];
        char* p = b;
        auto num = [&](double x, int prec) {
            *p++ = ' ';
            if (x >= 0) *p++ = ' ';
            p = std::to_chars(p, b + sizeof b, x, std::chars_format::scientific, prec).ptr;
        };
        num(static_cast<double>(k % 200) * 0.01, 7);
        num(static_cast<double>(k / 200) * 0.01, 7);
        num(field(gen) * 1e-3, 8);
        num(field(gen), 8);
        rows.emplace_back(b, p);
    }
    return rows;
}

// Holds rows in memory as a table file's read buffer holds them: lines ending in LF, padding
// after the last; the rows read from it are taken out of these bytes, and when all have been
// read it starts over.
class row_source final : public p2k::line_source {
public:
    explicit row_source(const std::vector<std::string>& rows) {
        for (const auto& r : rows) text_ += r + '\n';
        size_ = text_.size();
        text_.append(p2k::line_padding, '\0');
        ahead_ = text_.data();
        ahead_end_ = text_.data() + size_;
    }
    bool next_line(std::string_view& line) override {
        if (ahead_ == ahead_end_) ahead_ = text_.data();
        const char* lf = static_cast<const char*>(std::memchr(ahead_, '\n', static_cast<size_t>(ahead_end_ - ahead_)));
        line = std::string_view(ahead_, static_cast<size_t>(lf - ahead_));
        ahead_ = lf + 1;
        return true;
    }
    void rewind_at_end() {
        if (ahead_ == ahead_end_) ahead_ = text_.data();
    }

private:
    std::string text_;
    size_t size_ = 0;
};

void BM_read_list_row(benchmark::State& state) {
    const std::vector<std::string> rows = table_rows(1024);
    row_source in(rows);
    double c1 = 0, c2 = 0, f1 = 0, f2 = 0;
    const p2k::list_item items[4] = {p2k::item(c1), p2k::item(c2), p2k::item(f1), p2k::item(f2)};
    p2k::numbers::row_template layout{};
    size_t i = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        in.rewind_at_end();
        p2k::read_row_list(in, items, layout);  // the general rules, learning the row's layout as the table's reader does
        benchmark::DoNotOptimize(f1);
        benchmark::DoNotOptimize(f2);
        bytes += static_cast<int64_t>(rows[i].size()) + 1;  // the line end of the table
        i = (i + 1) & (rows.size() - 1);
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_read_list_row);

p2k::run_state bench_state;  // static storage: far too large for the stack

void fill_map(p2k::field_map& m) {
    m.Nr = 200;
    m.Nz = 1000;
    m.Rmin = 0;
    m.Rmax = 2;
    m.Zmin = -5;
    m.Zmax = 5;
    for (int ir = 1; ir <= m.Nr; ++ir) m.r_node[static_cast<size_t>(ir)] = (ir - 1) * (2.0 / 199);
    for (int iz = 1; iz <= m.Nz; ++iz) m.z_node[static_cast<size_t>(iz)] = (iz - 1) * (10.0 / 999) - 5;
    for (int iz = 1; iz <= m.Nz; ++iz)
        for (int ir = 1; ir <= m.Nr; ++ir) {
            const double r = m.r_node[static_cast<size_t>(ir)], z = m.z_node[static_cast<size_t>(iz)];
            m.Er_map(ir, iz) = r * std::sin(z);
            m.Ez_map(ir, iz) = std::cos(z) * (1 - 0.1 * r * r);
        }
}

void BM_EB2D_APPR(benchmark::State& state) {
    p2k::reset_run_state(bench_state);
    fill_map(bench_state.map);
    // Sample points as the output grid visits them: 25 x 25 radii, 201 positions along z.
    std::vector<double> rs, zs;
    for (int i = 0; i < 25; ++i)
        for (int j = 0; j < 25; ++j) rs.push_back(std::sqrt((i - 12) * (i - 12) + (j - 12) * (j - 12)) / 12.0);
    for (int k = 0; k < 201; ++k) zs.push_back(-4 + 8.0 * k / 200);
    size_t ir = 0, iz = 0;
    double E[3], B[3];
    for (auto _ : state) {
        p2k::EB2D_APPR(bench_state.map, rs[ir], zs[iz], E, B);
        benchmark::DoNotOptimize(E);
        benchmark::DoNotOptimize(B);
        if (++iz == zs.size()) {
            iz = 0;
            if (++ir == rs.size()) ir = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EB2D_APPR);

}  // namespace

BENCHMARK_MAIN();
