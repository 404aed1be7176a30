// Every nanoseconds value through sub_second, against the same steps done
// in exact integer arithmetic (no floating point at all).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "tsync.hpp"

namespace {

// A positive number m * 2^e, m < 2^63.
struct binary {
    std::uint64_t m;
    int e;
};

// Rounds m * 2^e to 24 significant bits, ties to even, as single precision
// does for normal numbers.
binary to_single(binary x)
{
    const int excess = std::bit_width(x.m) - 24;
    if (excess <= 0)
        return x;
    const std::uint64_t rest = x.m & ((std::uint64_t{1} << excess) - 1);
    const std::uint64_t half = std::uint64_t{1} << (excess - 1);
    std::uint64_t m = x.m >> excess;
    if (rest > half || (rest == half && (m & 1) != 0))
        ++m;
    return {m, x.e + excess};
}

// The single-precision constant nearest 1e-9: 2^53 / 10^9 rounded, times 2^-53
// (1e-9 lies between 2^-30 and 2^-29, so 24 bits need the factor 2^53).
binary one_nano()
{
    constexpr std::uint64_t num = std::uint64_t{1} << 53, den = 1000000000;
    std::uint64_t m = num / den;
    const std::uint64_t rest = num % den;
    if (2 * rest > den || (2 * rest == den && (m & 1) != 0))
        ++m;
    return {m, -53};
}

std::int64_t reference(std::uint32_t n, binary c)
{
    if (n == 0)
        return 0;
    const binary value = to_single({n, 0});
    const binary product = to_single({value.m * c.m, value.e + c.e});
    // product * 10^9 exactly, then halves away from zero (the value is positive).
    const std::uint64_t scaled = product.m * 1000000000u;
    if (product.e >= 0)
        return static_cast<std::int64_t>(scaled << product.e);
    const int shift = -product.e;
    return static_cast<std::int64_t>((scaled + (std::uint64_t{1} << (shift - 1))) >> shift);
}

TEST(SubSecondSweep, EveryInputMatchesExactArithmeticAndTheDocumentedBounds)
{
    const binary c = one_nano();
    ASSERT_EQ(c.m, 9007199u);
    std::uint64_t mismatches = 0;
    std::uint32_t n = 0;
    do {
        const std::int64_t got = tsync::sub_second(n);
        const std::int64_t want = reference(n, c);
        const std::int64_t off = got > std::int64_t{n} ? got - n : std::int64_t{n} - got;
        bool ok = got == want;
        if (n <= 7812507)
            ok = ok && off == 0;
        else if (n <= 16777216)
            ok = ok && off <= 1;
        else if (n <= 999999967)
            ok = ok && off <= 90;
        else if (n <= 1000000095)
            ok = ok && got == 1000000000;
        else
            ok = ok && got > 1000000000;
        if (!ok && ++mismatches <= 10)
            ADD_FAILURE() << "nanoseconds " << n << ": sub_second " << got << ", exact steps " << want;
    } while (n++ != UINT32_MAX);
    EXPECT_EQ(mismatches, 0u);
}

} // namespace
