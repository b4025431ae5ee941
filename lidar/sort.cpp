// Key-and-index quicksorts: keys sorted in place, companions moved with them.
//
// The integer and double families share one implementation; only the key
// type differs. Positions are widened to 64 bits inside so that stepping one
// past the bounds of a range can never overflow.
#include "LiDAR.h"

#include <bit>
#include <cstdint>

namespace {

using Pos = std::int64_t;

struct Split {
    Pos i;  // first position of the right part
    Pos j;  // last position of the left part
};

// One Hoare partition of p[left..right] around the value at the middle.
// The scans are strict and bounded, so runs of equal keys (and NaNs) stop
// them and they never leave the range. Testing the bound first gives the
// same result and lets the compiler keep each scan a tight loop (twice as
// fast on integer keys that peel one element a partition).
template <typename Key>
Split partition(Key *p, Pos left, Pos right, int32_t *p_ind)
{
    const Key v = p[(left + right) / 2];
    Pos i = left;
    Pos j = right;
    do {
        while (i < right && p[i] < v)
            ++i;
        while (j > left && v < p[j])
            --j;
        if (i <= j) {
            const Key key = p[i];
            p[i] = p[j];
            p[j] = key;
            const int32_t ind = p_ind[i];
            p_ind[i] = p_ind[j];
            p_ind[j] = ind;
            ++i;
            --j;
        }
    } while (i <= j);
    return {i, j};
}

// Puts `key` (with companion `ind`) into the max-heap a[0..n-1] whose slot
// `hole` is free; keys a and companions c move together, one move a level.
template <typename Key>
void sift_down(Key *a, int32_t *c, Pos hole, Pos n, Key key, int32_t ind)
{
    for (Pos child = 2 * hole + 1; child < n; child = 2 * hole + 1) {
        if (child + 1 < n && a[child] < a[child + 1])
            ++child;
        if (!(key < a[child]))
            break;
        a[hole] = a[child];
        c[hole] = c[child];
        hole = child;
    }
    a[hole] = key;
    c[hole] = ind;
}

// Guaranteed n log n, in place, companions moved with their keys. Keys are
// the only thing compared, so equal keys end in the order this heapsort
// leaves them (deterministic, but neither stable nor the quicksort's).
template <typename Key>
void heap_sort(Key *p, Pos left, Pos right, int32_t *p_ind)
{
    Key *a = p + left;
    int32_t *c = p_ind + left;
    const Pos n = right - left + 1;
    for (Pos k = n / 2; k-- > 0;)
        sift_down(a, c, k, n, a[k], c[k]);
    for (Pos last = n - 1; last > 0; --last) {
        const Key key = a[last];
        const int32_t ind = c[last];
        a[last] = a[0];
        c[last] = c[0];
        sift_down(a, c, 0, last, key, ind);
    }
}

// The partition work a sort may spend before it stops trusting the middle
// pivot. Only inputs laid out against that pivot (organ pipes, sawtooths)
// drive the quicksort past 8 n log2 n steps; ordinary ones, ties and all,
// take one to three n log2 n. The fixed 2^24 lets every array of up to
// about 5,000 keys, whose worst case is n^2 / 2 steps, sort exactly as
// written. log2 n is rounded up to whole bits, so the budget is never below
// 8 n log2 n + 2^24. One budget a call, carried down its nesting: calls on
// separate arrays may run in different threads.
class WorkBudget {
public:
    explicit WorkBudget(Pos count) : left_(steps_allowed(count)) {}

    // Charges the partition of a range of `size` positions: its two scans
    // between them visit each position once (bar the one or two where they
    // cross), so the range's size is the partition's step count. False
    // from the first partition that no longer fits, and ever after.
    bool charge(Pos size)
    {
        left_ -= size;
        return left_ >= 0;
    }

private:
    static Pos steps_allowed(Pos count)
    {
        const auto log2_up = static_cast<Pos>(std::bit_width(static_cast<uint64_t>(count - 1)));
        return 8 * count * log2_up + (Pos{1} << 24);
    }

    Pos left_;  // steps still allowed; negative once spent
};

// The two parts are disjoint and each is rearranged only by its own sort,
// so nesting into the smaller one and looping on the larger one gives the
// same arrangement as left-first order while keeping the depth near log2(n).
// Which ranges are partitioned does not depend on that order either, so the
// budget runs out on the same inputs whichever order is taken; from then on
// every range still unsorted is heapsorted instead, which bounds the whole
// call by the budget plus n log n.
template <typename Key>
void sort_within(Key *p, Pos left, Pos right, int32_t *p_ind, WorkBudget &work)
{
    while (left < right) {
        if (!work.charge(right - left + 1)) {
            heap_sort(p, left, right, p_ind);
            return;
        }
        const Split s = partition(p, left, right, p_ind);
        if (s.j - left < right - s.i) {
            if (left < s.j)
                sort_within(p, left, s.j, p_ind, work);
            left = s.i;
        } else {
            if (s.i < right)
                sort_within(p, s.i, right, p_ind, work);
            right = s.j;
        }
    }
}

// The one sort behind all eight entry points. Sorting nothing (no range,
// or a NULL array) touches nothing.
template <typename Key>
void sort_range(Key *p, Pos left, Pos right, int32_t *p_ind)
{
    if (left >= right || p == nullptr || p_ind == nullptr)
        return;
    WorkBudget work(right - left + 1);
    sort_within(p, left, right, p_ind, work);
}

}  // namespace

// The budgeted ("parallel") forms once chose, by nesting level, which of two
// functions with the same partition rule handled a range; the arrangement
// never depended on it. They now run the one sort, and `deep` changes
// nothing observable.
extern "C" {

void l_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind)
{
    sort_range(p, left, right, p_ind);
}

void l_quicksort(int32_t *p, int32_t count, int32_t *p_ind)
{
    sort_range(p, 0, Pos{count} - 1, p_ind);
}

void d_qs(double *p, int32_t left, int32_t right, int32_t *p_ind)
{
    sort_range(p, left, right, p_ind);
}

void d_quicksort(double *p, int32_t count, int32_t *p_ind)
{
    sort_range(p, 0, Pos{count} - 1, p_ind);
}

void l_parallel_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind, int32_t /*deep*/)
{
    sort_range(p, left, right, p_ind);
}

void l_parallel_quicksort(int32_t *p, int32_t count, int32_t *p_ind)
{
    sort_range(p, 0, Pos{count} - 1, p_ind);
}

void d_parallel_qs(double *p, int32_t left, int32_t right, int32_t *p_ind, int32_t /*deep*/)
{
    sort_range(p, left, right, p_ind);
}

void d_parallel_quicksort(double *p, int32_t count, int32_t *p_ind)
{
    sort_range(p, 0, Pos{count} - 1, p_ind);
}

}  // extern "C"
