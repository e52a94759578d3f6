#include "db/fbcomponents.h"

#include "tests/db/catalogue_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace ibi_test;

TEST(TFbDataBase, AttachesAndDetaches)
{
    IBI_REQUIRE_FBCLIENT();
    TTempFolder folder;
    CreateDatabase(folder.File("a.fdb"), { "CREATE TABLE t (a INTEGER)" });
    TFbDataBase connection;
    ConfigureConnection(connection, folder.File("a.fdb"));
    connection.SetConnected(true);
    EXPECT_TRUE(connection.Connected());
    connection.SetConnected(false);
    EXPECT_FALSE(connection.Connected());
}

TEST(TCatalogueDatabase, ReadsBackRows)
{
    IBI_REQUIRE_FBCLIENT();
    TCatalogueDatabase catalogue;
    catalogue.AddMovie(10, 1234);
    EXPECT_EQ(catalogue.Rows(R"(SELECT "mid", "num" FROM MOVIES)"), (TRows { { "10", "1234" } }));
    EXPECT_EQ(catalogue.GeneratorValue(), 0);
}
