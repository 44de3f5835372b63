// Integer powers of ten and five, for reading and writing alike: the digits of a run combined
// into one integer, the exact products and quotients of the 24-column field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace p2k::numbers::detail {

__extension__ typedef unsigned __int128 u128;

template <typename T, size_t N>
constexpr std::array<T, N> powers_of(T base) {
    std::array<T, N> t{};
    T v = 1;
    for (auto& x : t) {
        x = v;
        v *= base;
    }
    return t;
}

inline constexpr auto pow10_u64 = powers_of<uint64_t, 20>(10);  // 10^19 < 2^64
inline constexpr auto pow5_u64 = powers_of<uint64_t, 28>(5);    // 5^27 < 2^64
inline constexpr auto pow10_u128 = powers_of<u128, 25>(10);
inline constexpr auto pow5_u128 = powers_of<u128, 33>(5);

}  // namespace p2k::numbers::detail
