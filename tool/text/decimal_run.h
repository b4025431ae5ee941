// Runs of a grid's usual values, short decimals, parsed several at a time:
// four tokens a register where the processor has AVX2, else one by one.
#ifndef MORVANE_DECIMAL_RUN_H
#define MORVANE_DECIMAL_RUN_H

#include <cstddef>

namespace morvane {

// Spaces that must follow the text's end: the scan reads whole blocks of
// 64 bytes, and the block after the one it stands in.
constexpr size_t kDecimalRunPadding = 192;

struct DecimalRun {
    size_t values;     // tokens parsed
    size_t lastBegin;  // where the last of them begins (pos when none)
    size_t end;        // where it ends (pos when none)
};

// The tokens of data from pos on, up to count of them, while each is one
// that parseShortDecimal() reads and ends before `end`, their values into
// `out`. It stops before the first other token, leaving it for a reader of
// any form. data[end, end + kDecimalRunPadding) must be spaces.
DecimalRun parseDecimalRun(const char *data, size_t pos, size_t end, float *out, size_t count);

// The same, one token at a time on any processor: what the vector form is
// checked against.
DecimalRun parseDecimalRunPortable(const char *data, size_t pos, size_t end, float *out, size_t count);

}  // namespace morvane

#endif
