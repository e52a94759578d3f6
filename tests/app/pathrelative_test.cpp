#include "app/pathrelative.h"
#include "tests/support/paramname.h"

#include <gtest/gtest.h>

namespace {

struct TRelativeCase {
    const char* Base;
    const char* Target;
    const char* Result;
};

class TPathRelativeTo : public testing::TestWithParam<TRelativeCase> {};

TEST_P(TPathRelativeTo, GivesTheFolderFromTheDatabaseFile)
{
    EXPECT_EQ(PathRelativeTo(GetParam().Base, GetParam().Target), GetParam().Result)
        << GetParam().Base << " -> " << GetParam().Target;
}

INSTANTIATE_TEST_SUITE_P(Paths, TPathRelativeTo, testing::Values(
    TRelativeCase { "/data/cat.fdb", "/data/images/", "images/" },
    TRelativeCase { "/data/cat.fdb", "/pics/covers/", "../pics/covers/" },
    TRelativeCase { "/data/cat.fdb", "/data/", "" },
    TRelativeCase { "/data/sub/cat.fdb", "/data/", "../" },
    TRelativeCase { "/data/sub/deeper/cat.fdb", "/data/x/", "../../x/" },
    TRelativeCase { "/data/cat.fdb", "/data/a/b/c/", "a/b/c/" },
    TRelativeCase { "/cat.fdb", "/", "" },
    TRelativeCase { "/cat.fdb", "/images/", "images/" },
    TRelativeCase { "/data/cat.fdb", "/", "../" },
    // Linux names are case-sensitive: DATA is another folder.
    TRelativeCase { "/data/cat.fdb", "/DATA/Images/", "../DATA/Images/" },
    TRelativeCase { "/data/cat.fdb", "/data/Images/", "Images/" },
    TRelativeCase { "/data/cat.fdb", "/datax/", "../datax/" },
    TRelativeCase { "/data/cat.fdb", "/data/images/1.jpg", "images/1.jpg" },
    TRelativeCase { "/d\xC3\xA9j\xC3\xA0/cat.fdb", "/d\xC3\xA9j\xC3\xA0/\xC3\xA9t\xC3\xA9/", "\xC3\xA9t\xC3\xA9/" },
    TRelativeCase { "/it's/cat.fdb", "/it's/o'k/", "o'k/" },
    // Both relative: compared as they stand.
    TRelativeCase { "cat.fdb", "images/", "images/" },
    TRelativeCase { "db/cat.fdb", "images/", "../images/" },
    // One absolute, one relative: no common root.
    TRelativeCase { "cat.fdb", "/pics/", "/pics/" },
    TRelativeCase { "/data/cat.fdb", "pics/", "pics/" }),
    [](const auto& info) {
        return testsupport::ParamName(info.param.Target) + "_From_" + testsupport::ParamName(info.param.Base);
    });

} // namespace
