#include "text/quoted_token.h"

#include <cstddef>

namespace morvane {

std::string quotedToken(std::string_view s)
{
    constexpr size_t kMax = 40;
    std::string out = "'";
    for (size_t i = 0; i < s.size() && i < kMax; ++i)
        out += (s[i] >= 0x20 && s[i] < 0x7f) ? s[i] : '?';
    if (s.size() > kMax)
        out += "...";
    return out + "'";
}

}  // namespace morvane
