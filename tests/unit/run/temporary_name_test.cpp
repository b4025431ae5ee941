// The temporary output's name: beside the target, and within the file
// system's name limit however long the target's name and whatever its
// characters.
#include "run/output_file.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <unistd.h>

using namespace morvane;

using namespace test_support;

namespace {

// Whether every multi-byte UTF-8 sequence in `s` is whole.
bool wholeUtf8(const std::string &s)
{
    for (size_t i = 0; i < s.size();) {
        const auto lead = static_cast<unsigned char>(s[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > s.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// A name filled to the limit with characters of one, two and four bytes:
// the cut falls between characters. A short name is kept whole.
TEST(TemporaryName, BesideTheTargetWithinTheNameLimit)
{
    TempDir dir;
    const std::string suffix = ".morvane-partial-" + std::to_string(::getpid()) + "-7";
    const struct {
        const char *what;
        std::string character;  // repeated to fill the name; empty: "out.las"
    } rows[] = {{"short", ""}, {"one-byte", "o"}, {"two-byte", "\xC3\xA9"}, {"four-byte", "\xF0\x9F\x8C\xB2"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        std::string target = row.character.empty() ? "out" : "";
        while (!row.character.empty() && target.size() + row.character.size() + 4 <= NAME_MAX)
            target += row.character;
        target += ".las";
        const std::string name = temporaryName(dir / target, 7);
        ASSERT_EQ(name.rfind(dir.path() + "/", 0), 0u) << name;
        const std::string base = name.substr(dir.path().size() + 1);
        EXPECT_LE(base.size(), size_t{NAME_MAX});
        ASSERT_GT(base.size(), suffix.size());
        EXPECT_EQ(base.substr(base.size() - suffix.size()), suffix);
        const std::string kept = base.substr(0, base.size() - suffix.size());
        EXPECT_EQ(target.rfind(kept, 0), 0u) << "not a start of the target's name";
        EXPECT_TRUE(wholeUtf8(kept));
        const size_t partOfACharacter = row.character.empty() ? 0 : row.character.size() - 1;
        EXPECT_GE(kept.size() + partOfACharacter, std::min(target.size(), NAME_MAX - suffix.size()))
            << "more of the name cut than needed";
        writeFile(name, "");  // the file system takes it
    }
}

}  // namespace
