// Key-and-index quicksorts: exact arrangements, equivalence of the eight
// entry points, range confinement, bounded nesting depth, and the
// arrangement of the rule as written on every input it sorts within its
// work budget, adversarial ones still sorted past it.
#include "LiDAR.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using IntKeys = std::vector<int32_t>;
using DblKeys = std::vector<double>;
using Index = std::vector<int32_t>;

constexpr int32_t kBig = std::numeric_limits<int32_t>::max();
constexpr int32_t kSmall = std::numeric_limits<int32_t>::min();

Index iota_index(size_t n)
{
    Index ind(n);
    std::iota(ind.begin(), ind.end(), 0);
    return ind;
}

int32_t count_of(size_t n)
{
    return static_cast<int32_t>(n);
}

// The exported functions of one key type.
template <typename Key>
struct Api;

template <>
struct Api<int32_t> {
    static constexpr const char *prefix = "l_";
    static constexpr auto qs = l_qs;
    static constexpr auto quicksort = l_quicksort;
    static constexpr auto parallel_qs = l_parallel_qs;
    static constexpr auto parallel_quicksort = l_parallel_quicksort;
};

template <>
struct Api<double> {
    static constexpr const char *prefix = "d_";
    static constexpr auto qs = d_qs;
    static constexpr auto quicksort = d_quicksort;
    static constexpr auto parallel_qs = d_parallel_qs;
    static constexpr auto parallel_quicksort = d_parallel_quicksort;
};

// Every way of sorting a whole array of one key type. They must all leave
// the same arrangement, so each case runs through each of them.
template <typename Key>
struct Variant {
    std::string name;
    std::function<void(Key *, int32_t, int32_t *)> sort;
};

template <typename Key>
std::vector<Variant<Key>> variants()
{
    using A = Api<Key>;
    const std::string l = A::prefix;
    std::vector<Variant<Key>> out = {
        {l + "quicksort", [](Key *p, int32_t n, int32_t *ind) { A::quicksort(p, n, ind); }},
        {l + "parallel_quicksort", [](Key *p, int32_t n, int32_t *ind) { A::parallel_quicksort(p, n, ind); }},
        {l + "qs", [](Key *p, int32_t n, int32_t *ind) { A::qs(p, 0, n - 1, ind); }},
    };
    for (const int32_t deep : {0, 1, 15, -1, kSmall, kBig})
        out.push_back({l + "parallel_qs deep " + std::to_string(deep),
                       [deep](Key *p, int32_t n, int32_t *ind) { A::parallel_qs(p, 0, n - 1, ind, deep); }});
    return out;
}

// Doubles are compared by bit pattern so that NaN and the sign of zero count.
std::vector<uint64_t> bits(const DblKeys &keys)
{
    std::vector<uint64_t> out;
    for (const double k : keys)
        out.push_back(std::bit_cast<uint64_t>(k));
    return out;
}

DblKeys as_doubles(const IntKeys &keys)
{
    return DblKeys(keys.begin(), keys.end());
}

struct Arrangement {
    const char *what;
    IntKeys keys;
    IntKeys sorted_keys;
    Index companions;
};

// Arrangements every sort must reproduce exactly, companions included, since
// other tools rely on the order in which equal keys come out.
const std::vector<Arrangement> kArrangements = {
    {"one key", {42}, {42}, {0}},
    {"sorted distinct", {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6, 7}},
    {"reverse distinct", {7, 6, 5, 4, 3, 2, 1, 0}, {0, 1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1, 0}},
    {"two equal", {5, 5}, {5, 5}, {1, 0}},
    {"three equal", {5, 5, 5}, {5, 5, 5}, {2, 1, 0}},
    {"four equal", {5, 5, 5, 5}, {5, 5, 5, 5}, {2, 3, 0, 1}},
    {"eight equal", {5, 5, 5, 5, 5, 5, 5, 5}, {5, 5, 5, 5, 5, 5, 5, 5}, {5, 4, 7, 6, 1, 0, 3, 2}},
    {"two pairs", {2, 1, 2, 1}, {1, 1, 2, 2}, {3, 1, 0, 2}},
    {"extreme keys", {kBig, kSmall, 0, -1, kBig}, {kSmall, -1, 0, kBig, kBig}, {1, 3, 2, 4, 0}},
};

template <typename Key>
class SortTyped : public ::testing::Test {
};
using KeyTypes = ::testing::Types<int32_t, double>;
TYPED_TEST_SUITE(SortTyped, KeyTypes);

template <typename Key>
std::vector<Key> as_keys(const IntKeys &keys)
{
    return std::vector<Key>(keys.begin(), keys.end());
}

// The partition depends only on comparisons, so integer-valued doubles
// must land exactly where the integers do.
TYPED_TEST(SortTyped, ArrangementOfEveryVariant)
{
    using Key = TypeParam;
    for (const auto &c : kArrangements) {
        for (const auto &v : variants<Key>()) {
            SCOPED_TRACE(std::string(c.what) + " / " + v.name);
            std::vector<Key> keys = as_keys<Key>(c.keys);
            Index ind = iota_index(keys.size());
            v.sort(keys.data(), count_of(keys.size()), ind.data());
            EXPECT_EQ(keys, as_keys<Key>(c.sorted_keys));
            EXPECT_EQ(ind, c.companions);
        }
    }
}

TEST(SortArrangement, DoubleSpecialValues)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *what;
        DblKeys keys;
        DblKeys sorted_keys;
        Index companions;
    };
    const Case cases[] = {
        // NaN stops both scans: the sort ends but leaves keys out of order.
        {"NaNs", {9, nan, 7, nan, 3, 9, 1}, {1, 3, 9, nan, 9, nan, 7}, {6, 4, 5, 3, 0, 1, 2}},
        {"signed zeros", {0.0, -0.0}, {-0.0, 0.0}, {1, 0}},
        {"infinities",
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), 0.5},
         {-std::numeric_limits<double>::infinity(), 0.5, std::numeric_limits<double>::infinity()},
         {1, 2, 0}},
    };
    for (const auto &c : cases) {
        for (const auto &v : variants<double>()) {
            SCOPED_TRACE(std::string(c.what) + " / " + v.name);
            DblKeys keys = c.keys;
            Index ind = iota_index(keys.size());
            v.sort(keys.data(), count_of(keys.size()), ind.data());
            EXPECT_EQ(bits(keys), bits(c.sorted_keys));
            EXPECT_EQ(ind, c.companions);
        }
    }
}

TYPED_TEST(SortTyped, NothingToSortLeavesArraysAlone)
{
    using A = Api<TypeParam>;
    const std::vector<TypeParam> keys0 = {3, 1, 2};
    const Index ind0 = {9, 8, 7};
    // count 0 or less for the whole-array forms
    for (const int32_t count : {0, -1, -2, kSmall}) {
        SCOPED_TRACE(count);
        std::vector<TypeParam> keys = keys0;
        Index ind = ind0;
        A::quicksort(keys.data(), count, ind.data());
        A::parallel_quicksort(keys.data(), count, ind.data());
        EXPECT_EQ(keys, keys0);
        EXPECT_EQ(ind, ind0);
    }
    // left >= right for the range forms
    const std::pair<int32_t, int32_t> ranges[] = {{0, 0}, {2, 2}, {2, 0}, {1, -5}, {kBig, kSmall}};
    for (const auto &[left, right] : ranges) {
        SCOPED_TRACE(std::to_string(left) + ".." + std::to_string(right));
        std::vector<TypeParam> keys = keys0;
        Index ind = ind0;
        A::qs(keys.data(), left, right, ind.data());
        A::parallel_qs(keys.data(), left, right, ind.data(), 3);
        EXPECT_EQ(keys, keys0);
        EXPECT_EQ(ind, ind0);
    }
    // nothing is read or written when there is nothing to sort
    A::quicksort(nullptr, 0, nullptr);
    A::parallel_quicksort(nullptr, 0, nullptr);
}

// Companions are only moved, never read: any payload rides along.
TEST(SortArrangement, CompanionPayloadIsOpaque)
{
    IntKeys keys = {3, 1, 2};
    Index ind = {kSmall, -7, kBig};
    l_quicksort(keys.data(), 3, ind.data());
    EXPECT_EQ(keys, (IntKeys{1, 2, 3}));
    EXPECT_EQ(ind, (Index{-7, kBig, kSmall}));
}

// The middle of a range at the top of the position space must be found
// without overflowing left + right, and the scans must not step past it.
TYPED_TEST(SortTyped, RangeAtTopOfPositionSpace)
{
    using A = Api<TypeParam>;
    const int32_t left = kBig - 3;
    // Positions left..kBig of the shifted bases are exactly the four elements.
    const auto shift = static_cast<std::ptrdiff_t>(left);
    for (const bool budgeted : {false, true}) {
        SCOPED_TRACE(budgeted);
        std::vector<TypeParam> keys = {4, 3, 2, 1};
        Index ind = {0, 1, 2, 3};
        if (budgeted)
            A::parallel_qs(keys.data() - shift, left, kBig, ind.data() - shift, 1);
        else
            A::qs(keys.data() - shift, left, kBig, ind.data() - shift);
        EXPECT_EQ(keys, (std::vector<TypeParam>{1, 2, 3, 4}));
        EXPECT_EQ(ind, (Index{3, 2, 1, 0}));
    }
}

// Partition steps the quicksort as written may take on n keys while every
// sort must still leave exactly its arrangement: 8 n log2 n + 2^24.
uint64_t exact_budget(size_t n)
{
    const double bits = n < 2 ? 0.0 : std::log2(static_cast<double>(n));
    return static_cast<uint64_t>(8.0 * static_cast<double>(n) * bits) + (uint64_t{1} << 24);
}

// The partition rule written out plainly, nesting left first as the rule
// was first stated, each partition costing the positions of its range.
// Gives up (false) once that cost would pass `budget`: only past it may a
// sort leave ties in another order, and such inputs would take it
// quadratic time.
template <typename Key>
bool reference_sort(Key *p, int64_t left, int64_t right, int32_t *ind, uint64_t &budget)
{
    while (left < right) {
        const auto steps = static_cast<uint64_t>(right - left + 1);
        if (steps > budget)
            return false;
        budget -= steps;
        const Key v = p[(left + right) / 2];
        int64_t i = left, j = right;
        do {
            while (p[i] < v && i < right)
                ++i;
            while (v < p[j] && j > left)
                --j;
            if (i <= j) {
                std::swap(p[i], p[j]);
                std::swap(ind[i++], ind[j--]);
            }
        } while (i <= j);
        if (left < j && !reference_sort(p, left, j, ind, budget))
            return false;
        left = i;
    }
    return true;
}

// The written arrangement of `keys`, or false when the rule as written
// would spend more than the exact budget on them.
template <typename Key>
bool written_arrangement(std::vector<Key> &keys, Index &ind)
{
    ind = iota_index(keys.size());
    uint64_t budget = exact_budget(keys.size());
    return reference_sort(keys.data(), 0, static_cast<int64_t>(keys.size()) - 1, ind.data(), budget);
}

template <typename Key>
void expect_sorted_and_consistent(const std::vector<Key> &original, const std::vector<Key> &keys, const Index &ind)
{
    ASSERT_EQ(keys.size(), original.size());
    ASSERT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    std::vector<bool> seen(original.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        const auto from = static_cast<size_t>(ind[k]);
        ASSERT_TRUE(ind[k] >= 0 && from < original.size() && !seen[from]) << "companions are not a permutation";
        seen[from] = true;
        ASSERT_EQ(original[from], keys[k]) << "companion at " << k;
    }
}

template <typename Key>
void check_variants_agree(const std::vector<Key> &original)
{
    std::vector<Key> want_keys = original;
    Index want_ind;
    ASSERT_TRUE(written_arrangement(want_keys, want_ind));
    for (const auto &v : variants<Key>()) {
        SCOPED_TRACE(v.name);
        std::vector<Key> keys = original;
        Index ind = iota_index(original.size());
        v.sort(keys.data(), count_of(keys.size()), ind.data());
        expect_sorted_and_consistent(original, keys, ind);
        EXPECT_EQ(keys, want_keys);
        EXPECT_EQ(ind, want_ind);
    }
}

TEST(SortRandomized, AllVariantsGiveOneArrangement)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 400; ++round) {
        const size_t n = std::uniform_int_distribution<size_t>(0, round < 200 ? 40 : 3000)(rng);
        // Narrow value ranges force many equal keys, whose order is the
        // part most sensitive to any change in the partition.
        const int32_t spread = std::uniform_int_distribution<int32_t>(1, round % 2 ? 5 : 1000)(rng);
        std::uniform_int_distribution<int32_t> value(-spread, spread);
        IntKeys original(n);
        for (auto &k : original)
            k = value(rng);
        SCOPED_TRACE("round " + std::to_string(round) + ", n " + std::to_string(n));
        check_variants_agree(original);
        check_variants_agree(as_doubles(original));

        // The two families must also agree with each other.
        IntKeys keys = original;
        Index ind = iota_index(n);
        DblKeys dkeys = as_doubles(original);
        Index dind = iota_index(n);
        l_quicksort(keys.data(), count_of(n), ind.data());
        d_quicksort(dkeys.data(), count_of(n), dind.data());
        EXPECT_EQ(dkeys, as_doubles(keys));
        EXPECT_EQ(dind, ind);
    }
}

TEST(SortRandomized, FractionalDoublesWithSignedZeros)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-3.0, 3.0);
    for (int round = 0; round < 100; ++round) {
        DblKeys original(std::uniform_int_distribution<size_t>(0, 500)(rng));
        for (auto &k : original) {
            const int pick = std::uniform_int_distribution<int>(0, 3)(rng);
            k = pick == 0 ? 0.0 : pick == 1 ? -0.0 : std::round(value(rng) * 4.0) / 4.0;
        }
        SCOPED_TRACE(round);
        check_variants_agree(original);
    }
}

// A range form rearranges its slice exactly as the whole-array form would
// sort a copy of that slice, and touches nothing else.
TYPED_TEST(SortTyped, RangeFormsStayInsideTheirRange)
{
    using A = Api<TypeParam>;
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        const size_t n = std::uniform_int_distribution<size_t>(1, 300)(rng);
        IntKeys original(n);
        for (auto &k : original)
            k = std::uniform_int_distribution<int32_t>(0, 20)(rng);
        const int32_t a = std::uniform_int_distribution<int32_t>(0, count_of(n) - 1)(rng);
        const int32_t b = std::uniform_int_distribution<int32_t>(0, count_of(n) - 1)(rng);
        const int32_t left = std::min(a, b);
        const int32_t right = std::max(a, b);
        SCOPED_TRACE(std::to_string(left) + ".." + std::to_string(right) + " of " + std::to_string(n));

        const auto lo = static_cast<size_t>(left);
        const auto hi = static_cast<size_t>(right) + 1;
        IntKeys slice(original.begin() + static_cast<std::ptrdiff_t>(lo),
                      original.begin() + static_cast<std::ptrdiff_t>(hi));
        Index slice_ind = iota_index(slice.size());
        l_quicksort(slice.data(), count_of(slice.size()), slice_ind.data());
        IntKeys want_keys = original;
        Index want_ind = iota_index(n);
        for (size_t k = 0; k < slice.size(); ++k) {
            want_keys[lo + k] = slice[k];
            want_ind[lo + k] = left + slice_ind[k];
        }

        std::vector<std::function<void(TypeParam *, int32_t *)>> forms = {
            [&](TypeParam *p, int32_t *ind) { A::qs(p, left, right, ind); }};
        for (const int32_t deep : {0, 2, 15, -1, -3})
            forms.push_back([&, deep](TypeParam *p, int32_t *ind) { A::parallel_qs(p, left, right, ind, deep); });
        for (const auto &sort : forms) {
            std::vector<TypeParam> keys = as_keys<TypeParam>(original);
            Index ind = iota_index(n);
            sort(keys.data(), ind.data());
            EXPECT_EQ(keys, as_keys<TypeParam>(want_keys));
            EXPECT_EQ(ind, want_ind);
        }
    }
}

// Keys laid out so that every partition finds the largest key of its range
// in the middle and splits off a single element on the right. A sort that
// always nested into the left part would nest once per element.
IntKeys middle_maximum_keys(size_t n)
{
    Index label = iota_index(n);
    IntKeys value(n);
    for (size_t r = n - 1; r > 0; --r) {
        std::swap(label[r / 2], label[r]);
        value[static_cast<size_t>(label[r])] = static_cast<int32_t>(r);
    }
    value[static_cast<size_t>(label[0])] = 0;
    return value;
}

template <typename Key>
bool sorted_with_consistent_companions(const std::vector<Key> &original, const std::vector<Key> &keys, const Index &ind)
{
    if (!std::is_sorted(keys.begin(), keys.end()))
        return false;
    for (size_t k = 0; k < keys.size(); ++k)
        if (original[static_cast<size_t>(ind[k])] != keys[k])
            return false;
    return true;
}

// Sorting happens in a child process on a small stack, so unbounded nesting
// shows up as a failed test rather than a crash of the whole run.
void sort_large_inputs()
{
    const IntKeys inputs[] = {
        iota_index(1000000),
        IntKeys(1000000, 7),
        middle_maximum_keys(20000),
    };
    bool ok = true;
    // Plain and budgeted sorts of one key type: sorted, and the same arrangement.
    const auto check = [&ok](const auto &original, auto plain, auto budgeted) {
        const int32_t n = count_of(original.size());
        auto keys = original, pkeys = original;
        Index ind = iota_index(original.size()), pind = iota_index(original.size());
        plain(keys.data(), n, ind.data());
        budgeted(pkeys.data(), n, pind.data());
        ok = ok && sorted_with_consistent_companions(original, keys, ind) && pkeys == keys && pind == ind;
    };
    for (const auto &original : inputs) {
        check(original, l_quicksort, l_parallel_quicksort);
        check(as_doubles(original), d_quicksort, d_parallel_quicksort);
    }
    // Sorted distinct keys must come out untouched, companions included.
    IntKeys keys = iota_index(1000000);
    Index ind = iota_index(1000000);
    l_parallel_quicksort(keys.data(), count_of(keys.size()), ind.data());
    ok = ok && keys == iota_index(1000000) && ind == iota_index(1000000);
    std::_Exit(ok ? 0 : 1);
}

// A quarter of a megabyte holds a few dozen frames comfortably but not
// thousands of them.
bool sort_large_inputs_on_small_stack()
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    const bool started = pthread_create(
                             &thread, &attr,
                             [](void *) -> void * {
                                 sort_large_inputs();
                                 return nullptr;
                             },
                             nullptr) == 0;
    pthread_attr_destroy(&attr);
    return started && pthread_join(thread, nullptr) == 0;
}

TEST(SortDepth, LargeAndAdversarialInputsStayShallow)
{
    EXPECT_EXIT(sort_large_inputs_on_small_stack(), ::testing::ExitedWithCode(0), "");
}

TEST(SortDepth, MiddleMaximumKeysPutTheLargestKeyInTheMiddle)
{
    // Guards the adversarial input above: a permutation of 0..n-1 with its
    // largest key in the middle of the whole range.
    const IntKeys keys = middle_maximum_keys(9);
    const auto top = std::max_element(keys.begin(), keys.end());
    EXPECT_EQ(top - keys.begin(), 4);
    IntKeys sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, iota_index(9));
}

// Key layouts a survey produces, and the layouts that defeat the middle
// pivot, as functions of the position i among n keys.
using Layout = std::function<int32_t(size_t i, size_t n)>;

IntKeys laid_out(size_t n, const Layout &key)
{
    IntKeys keys(n);
    for (size_t i = 0; i < n; ++i)
        keys[i] = key(i, n);
    return keys;
}

int32_t int_key(double value)
{
    return static_cast<int32_t>(std::floor(value));
}

int32_t int_key(size_t value)
{
    return static_cast<int32_t>(value);
}

double fraction(size_t i, size_t n)
{
    return static_cast<double>(i) / static_cast<double>(n);
}

// Rises over the first half of the keys, falls over the second.
size_t organ_pipe(size_t i, size_t n)
{
    return i < n / 2 ? i : n - 1 - i;
}

// Pseudo-random but the same for each (i, n), so the layouts stay pure: a
// 64-bit mix of the two.
uint32_t noise(size_t i, size_t n)
{
    uint64_t z = (uint64_t{i} << 32 ^ n) * 0x9E3779B97F4A7C15u;
    z = (z ^ z >> 30) * 0xBF58476D1CE4E5B9u;
    z = (z ^ z >> 27) * 0x94D049BB133111EBu;
    return static_cast<uint32_t>(z >> 32);
}

const Layout kTerrainProfile = [](size_t i, size_t n) {
    return int_key(50 * std::sin(std::numbers::pi * fraction(i, n)));
};
const Layout kTwoHills = [](size_t i, size_t n) {
    return int_key(1000 * std::sin(12 * fraction(i, n)) + 500 * std::sin(40 * fraction(i, n)));
};
const Layout kDoubleOrganPipe = [](size_t i, size_t n) {
    return int_key(i < n / 2 ? organ_pipe(i, n / 2) : organ_pipe(i - n / 2, n - n / 2));
};
const Layout kZigzagScanLines = [](size_t i, size_t) {
    return int_key(i / 100 % 2 == 0 ? i % 100 : 99 - i % 100);
};
const Layout kSortedRandomTail = [](size_t i, size_t n) {
    return i < n - n / 10 ? int_key(i) : int_key(noise(i, n) % n);
};
const Layout kOrganPipe = [](size_t i, size_t n) { return int_key(organ_pipe(i, n)); };
// Every key twice on each slope.
const Layout kOrganPipeWithTies = [](size_t i, size_t n) { return int_key(organ_pipe(i, n) / 2); };
const Layout kSawtooth = [](size_t i, size_t n) { return int_key(i % (n / 2)); };
// GPS times in microseconds: pulses 10 us apart giving one, two, then three
// returns of the same time; lines of 2,000 pulses stored west to east,
// flown back and forth (every other line's times fall in storage order)
// and each pair of neighbouring lines flown in the other order, 40 s apart.
const Layout kFlightLineTimes = [](size_t i, size_t) {
    constexpr size_t pulse_of_return[] = {0, 1, 1, 2, 2, 2};
    const size_t pulse = i / 6 * 3 + pulse_of_return[i % 6];
    const size_t line = pulse / 2000, along = pulse % 2000;
    const size_t flown_along = line % 2 == 0 ? along : 1999 - along;
    return int_key((line ^ 1) * 40'000'000 + flown_along * 10);
};
// Elevations in centimetres over rolling terrain with a few decimetres of
// scatter: long runs of repeated values.
const Layout kQuantisedElevations = [](size_t i, size_t n) {
    return int_key(31'250 + 800 * std::sin(7 * fraction(i, n)) + static_cast<double>(noise(i, n) % 60));
};
// Classification codes: ground, low and high vegetation, building.
const Layout kFewDistinct = [](size_t i, size_t n) { return int_key(size_t{2} + noise(i, n) % 4); };
const Layout kRandom = [](size_t i, size_t n) { return static_cast<int32_t>(noise(i, n)); };

// Keys of survey magnitude with a fraction, ordered exactly as the integer
// keys are (k / 128 is exact, and so is the sum), so both key types must
// give one arrangement.
DblKeys survey_doubles(const IntKeys &keys)
{
    DblKeys out;
    for (const int32_t k : keys)
        out.push_back(4'500'000.0 + k / 128.0);
    return out;
}

// Sorts `original` through each variant: where the rule as written stays
// within the exact budget, every variant must leave its arrangement; past
// it, the keys sorted with their own companions, the same way by all.
template <typename Key>
void expect_written_arrangement(const std::vector<Key> &original, bool within_budget, Index &arrangement)
{
    std::vector<Key> want_keys = original;
    Index want_ind;
    ASSERT_EQ(written_arrangement(want_keys, want_ind), within_budget) << "the row's budget verdict is wrong";
    // Every variant up to 10^4 keys; above, to keep the test quick, the
    // plain whole-array sort and the budgeted range sort with deep 0.
    const std::vector<Variant<Key>> all = variants<Key>();
    const std::vector<Variant<Key>> forms = original.size() <= 10000 ? all : std::vector{all[0], all[3]};
    for (const auto &v : forms) {
        SCOPED_TRACE(v.name);
        std::vector<Key> keys = original;
        Index ind = iota_index(original.size());
        v.sort(keys.data(), count_of(keys.size()), ind.data());
        expect_sorted_and_consistent(original, keys, ind);
        // Past the budget, the first form's arrangement is every form's.
        if (!within_budget && &v == &forms.front()) {
            want_keys = keys;
            want_ind = ind;
        }
        EXPECT_TRUE(keys == want_keys && ind == want_ind) << "not the arrangement of the rule as written";
    }
    arrangement = want_ind;
}

TEST(SortArrangement, KeyFamiliesKeepTheWrittenArrangement)
{
    struct Row {
        const char *family;
        const Layout &layout;
        std::vector<size_t> sizes;
        bool within_budget;  // the rule as written spends at most the exact budget
    };
    const Row rows[] = {
        {"terrain profile with ties", kTerrainProfile, {64, 257, 1000, 4000, 10000, 100000}, true},
        {"two superposed hills", kTwoHills, {10000, 100000}, true},
        {"double organ pipe", kDoubleOrganPipe, {1000, 4000, 100000}, true},
        {"zigzag scan lines", kZigzagScanLines, {257, 10000}, true},
        {"sorted, last tenth random", kSortedRandomTail, {100000, 1000000}, true},
        {"organ pipe with ties", kOrganPipeWithTies, {100, 1000, 4000}, true},
        {"organ pipe", kOrganPipe, {64, 1000, 4000}, true},
        {"sawtooth", kSawtooth, {1000, 4000}, true},
        {"flight-line GPS times", kFlightLineTimes, {10000, 100000}, true},
        {"quantised elevations", kQuantisedElevations, {10000, 100000}, true},
        {"few distinct values", kFewDistinct, {64, 10000, 100000}, true},
        {"random", kRandom, {4000, 100000}, true},
        // Past the budget: the quicksort as written would be quadratic.
        {"organ pipe with ties", kOrganPipeWithTies, {20000}, false},
        {"organ pipe", kOrganPipe, {10000}, false},
        {"sawtooth", kSawtooth, {20000}, false},
    };
    for (const Row &row : rows) {
        for (const size_t n : row.sizes) {
            SCOPED_TRACE(std::string(row.family) + ", " + std::to_string(n) + " keys");
            const IntKeys keys = laid_out(n, row.layout);
            Index int_arrangement, double_arrangement;
            expect_written_arrangement(keys, row.within_budget, int_arrangement);
            expect_written_arrangement(survey_doubles(keys), row.within_budget, double_arrangement);
            EXPECT_TRUE(int_arrangement == double_arrangement) << "the key types disagree";
        }
    }
}

}  // namespace
