#include "app/commandline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::HasSubstr;

namespace {

TEST(TUsageText, NamesEveryCommandAndOption)
{
    const std::string text = UsageText();
    for (const char* word : { "import", "--db", "--images", "--thumbs", "--kind", "poster|screenshot|front|cd|both",
             "--remove-existing", "--set-folder", "--user NAME", "thumbnail [--smooth] IMAGE OUT.jpg", "decode [--oriented] IMAGE OUT.ppm",
             "--help", "--skip-existing", "--dry-run", "--report FILE", "--verbose", "--version", "removing wins", "--smooth" })
        EXPECT_THAT(text, HasSubstr(word));
}

} // namespace
