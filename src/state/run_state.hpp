// The run state: every value of one conversion, in one block that lives in static storage for
// the whole run and starts zeroed. Phases read what earlier phases left here and fill their own
// part; tests build their own instance, also in static storage (the maps alone are 6.4 MB), and
// zero it again with reset_run_state.
#pragma once

#include "records/list_output.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace p2k {

inline constexpr int map_nr_max = 200;
inline constexpr int map_nz_max = 1000;
inline constexpr int grid_nx = 25;
inline constexpr int grid_ny = 25;
inline constexpr int grid_nz = 201;
inline constexpr int grid_nodes = grid_nx * grid_ny * grid_nz;

// Values of the control file.
struct run_control {
    std::array<char, 80> poisson_file{};  // blank-padded
    int32_t iflag_EH = 0;
    int32_t kmirror_z = 0;
    int32_t kfile_num = 0;
    int32_t kform_3D = 0;
    int32_t ksym_x = 0;
    int32_t ksym_y = 0;
    int32_t ksym_z = 0;
    double d_elm = 0;
    double aper = 0;
    double scale_E = 0;
    double scale_B = 0;
};

// A 200 x 1000 map indexed (ir, iz) from 1, ir fastest. The large arrays have no initialiser of
// their own: in static storage they start zeroed without the constructor touching their pages.
struct map_array {
    std::array<double, map_nr_max * map_nz_max> v;
    double& operator()(int ir, int iz) { return v[static_cast<size_t>(ir - 1) + map_nr_max * static_cast<size_t>(iz - 1)]; }
    const double& operator()(int ir, int iz) const { return v[static_cast<size_t>(ir - 1) + map_nr_max * static_cast<size_t>(iz - 1)]; }
};

struct field_map {
    double Rmin = 0, Rmax = 0, Zmin = 0, Zmax = 0;
    int32_t Nr = 0, Nz = 0;
    map_array Er_map, Ez_map, Br_map, Bz_map;
    std::array<double, map_nr_max + 1> r_node{};  // index 1 .. Nr
    std::array<double, map_nz_max + 1> z_node{};  // index 1 .. Nz
};

// A 25 x 25 x 201 array indexed (i, j, k) from 1, i fastest, then j, then k.
struct grid_array {
    std::array<double, grid_nodes> v;
    static size_t at(int i, int j, int k) {
        return static_cast<size_t>(i - 1) + grid_nx * static_cast<size_t>(j - 1) + grid_nx * grid_ny * static_cast<size_t>(k - 1);
    }
    double& operator()(int i, int j, int k) { return v[at(i, j, k)]; }
    double operator()(int i, int j, int k) const { return v[at(i, j, k)]; }
};

struct output_grid {
    std::array<double, 2> xmws{}, ymws{}, zmws{};     // lower, upper
    std::array<double, grid_nx + 1> x_grid{};         // index 1 .. 25
    std::array<double, grid_ny + 1> y_grid{};
    std::array<double, grid_nz + 1> z_grid{};         // index 1 .. 201
};

struct field_3d {
    grid_array Ex, Ey, Ez, Bx, By, Bz;
};

struct output_stage {
    std::array<char, 80> field_file{};
    int32_t k_s_EH = 0;
    int32_t kend_mark = 0;
};

struct run_state {
    run_control control;
    field_map map;
    output_grid grid;
    field_3d field;
    output_stage out;
    list_output console;  // unit 6
};

// The table holds one kind of field: E where iflag_EH is 0, B where it is 1 (the table's reader
// stops on any other value before a map is filled). Only the maps and 3D arrays of that kind are
// filled and written; those of the other kind stay zero.
template <typename T>
T& of_table_kind(const run_control& c, T& e, T& b) {
    return c.iflag_EH == 0 ? e : b;
}

// The maps, radial and axial, and the 3D arrays, x, y and z, of the table's kind, in a run state
// const or not.
template <typename Map>
struct kind_maps {
    Map& radial;
    Map& axial;
};
template <typename Array>
struct kind_arrays {
    Array& x;
    Array& y;
    Array& z;
};
template <typename State>
auto table_kind_maps(State& s) {
    auto& m = s.map;
    using map = std::remove_reference_t<decltype(of_table_kind(s.control, m.Er_map, m.Br_map))>;
    return kind_maps<map>{of_table_kind(s.control, m.Er_map, m.Br_map), of_table_kind(s.control, m.Ez_map, m.Bz_map)};
}
template <typename State>
auto table_kind_arrays(State& s) {
    auto& f = s.field;
    using array = std::remove_reference_t<decltype(of_table_kind(s.control, f.Ex, f.Bx))>;
    return kind_arrays<array>{of_table_kind(s.control, f.Ex, f.Bx), of_table_kind(s.control, f.Ey, f.By),
                              of_table_kind(s.control, f.Ez, f.Bz)};
}

// Sets every value back to zero (the console stays as it is), without a temporary copy.
inline void reset_run_state(run_state& s) {
    auto zero = [](auto& group) {
        static_assert(std::is_trivially_copyable_v<std::remove_reference_t<decltype(group)>>);
        std::memset(static_cast<void*>(&group), 0, sizeof group);
    };
    zero(s.control);
    zero(s.map);
    zero(s.grid);
    zero(s.field);
    zero(s.out);
}

}  // namespace p2k
