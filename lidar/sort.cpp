// Key-and-index quicksorts: keys sorted in place, companions moved with them.
//
// The integer and double families share one implementation; only the key
// type differs. Positions are widened to 64 bits inside so that stepping one
// past the bounds of a range can never overflow.
#include "LiDAR.h"

#include <cstdint>

namespace {

using Pos = std::int64_t;

// Whole-array forms hand this budget to the budgeted range sort.
constexpr int32_t kWholeArrayBudget = 15;

struct Split {
    Pos i;  // first position of the right part
    Pos j;  // last position of the left part
};

// One Hoare partition of p[left..right] around the value at the middle.
// The scans are strict and bounded, so runs of equal keys (and NaNs) stop
// them and they never leave the range.
template <typename Key>
Split partition(Key *p, Pos left, Pos right, int32_t *p_ind)
{
    const Key v = p[(left + right) / 2];
    Pos i = left;
    Pos j = right;
    do {
        while (p[i] < v && i < right)
            ++i;
        while (v < p[j] && j > left)
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

// The two parts are disjoint and each is rearranged only by its own sort,
// so nesting into the smaller one and looping on the larger one gives the
// same arrangement as left-first order while keeping the depth near log2(n).
template <typename Key>
void plain_sort(Key *p, Pos left, Pos right, int32_t *p_ind)
{
    while (left < right) {
        const Split s = partition(p, left, right, p_ind);
        if (s.j - left < right - s.i) {
            if (left < s.j)
                plain_sort(p, left, s.j, p_ind);
            left = s.i;
        } else {
            if (s.i < right)
                plain_sort(p, s.i, right, p_ind);
            right = s.j;
        }
    }
}

// The budget only selects which sort partitions a level; the partition rule
// is shared, so the arrangement equals plain_sort's for any budget.
template <typename Key>
void budgeted_sort(Key *p, Pos left, Pos right, int32_t *p_ind, int32_t deep)
{
    while (left < right) {
        const Split s = partition(p, left, right, p_ind);
        if (deep == 0) {
            if (left < s.j)
                plain_sort(p, left, s.j, p_ind);
            if (s.i < right)
                plain_sort(p, s.i, right, p_ind);
            return;
        }
        // A negative budget never reaches zero; holding it still avoids
        // wrapping past INT32_MIN without changing which sort runs.
        if (deep > 0)
            --deep;
        if (s.j - left < right - s.i) {
            if (left < s.j)
                budgeted_sort(p, left, s.j, p_ind, deep);
            left = s.i;
        } else {
            if (s.i < right)
                budgeted_sort(p, s.i, right, p_ind, deep);
            right = s.j;
        }
    }
}

}  // namespace

extern "C" {

void l_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind)
{
    plain_sort(p, left, right, p_ind);
}

void l_quicksort(int32_t *p, int32_t count, int32_t *p_ind)
{
    plain_sort(p, 0, Pos{count} - 1, p_ind);
}

void d_qs(double *p, int32_t left, int32_t right, int32_t *p_ind)
{
    plain_sort(p, left, right, p_ind);
}

void d_quicksort(double *p, int32_t count, int32_t *p_ind)
{
    plain_sort(p, 0, Pos{count} - 1, p_ind);
}

void l_parallel_qs(int32_t *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep)
{
    budgeted_sort(p, left, right, p_ind, deep);
}

void l_parallel_quicksort(int32_t *p, int32_t count, int32_t *p_ind)
{
    budgeted_sort(p, 0, Pos{count} - 1, p_ind, kWholeArrayBudget);
}

void d_parallel_qs(double *p, int32_t left, int32_t right, int32_t *p_ind, int32_t deep)
{
    budgeted_sort(p, left, right, p_ind, deep);
}

void d_parallel_quicksort(double *p, int32_t count, int32_t *p_ind)
{
    budgeted_sort(p, 0, Pos{count} - 1, p_ind, kWholeArrayBudget);
}

}  // extern "C"
