#pragma once
// A catalogue-shaped database for tests: tables MOVIES, images, thumbnails and options (row 1)
// and the generator gen_pixref, with the column names the import tool's statements use.
#include "tests/db/fb_test_support.h"

#include <string>
#include <vector>

namespace ibi_test {

inline const std::vector<std::string>& CatalogueSchema()
{
    static const std::vector<std::string> statements {
        R"(CREATE TABLE MOVIES ("mid" INTEGER NOT NULL PRIMARY KEY, "num" INTEGER, "title" VARCHAR(200)))",
        R"(CREATE TABLE images ("pixref" INTEGER NOT NULL PRIMARY KEY, "mid" INTEGER, "imgtype" SMALLINT,
            "imgformat" VARCHAR(16), "imgpath" VARCHAR(1024)))",
        R"(CREATE TABLE thumbnails ("pixref" INTEGER NOT NULL PRIMARY KEY, "imgformat" VARCHAR(16),
            "imgpath" VARCHAR(1024)))",
        R"(CREATE TABLE options ("oid" INTEGER NOT NULL PRIMARY KEY, "doimgfolders" SMALLINT,
            "posterfolder_rel" VARCHAR(1024), "posterfolder_full" VARCHAR(1024),
            "screensfolder_rel" VARCHAR(1024), "screensfolder_full" VARCHAR(1024),
            "coversfolder_rel" VARCHAR(1024), "coversfolder_full" VARCHAR(1024),
            "thumbsfolder_rel" VARCHAR(1024), "thumbsfolder_full" VARCHAR(1024)))",
        "CREATE GENERATOR gen_pixref",
        R"(INSERT INTO options ("oid", "doimgfolders") VALUES (1, 1))",
    };
    return statements;
}

// The database file catalogue.fdb in a temporary folder of its own, removed afterwards.
//   IBI_REQUIRE_FBCLIENT();
//   ibi_test::TCatalogueDatabase catalogue;
//   catalogue.AddMovie(10, 1234);
//   ... run the import against catalogue.Path() ...
//   EXPECT_EQ(catalogue.Rows(R"(SELECT "mid", "imgpath" FROM images)"),
//       (ibi_test::TRows { { "10", "1234.jpg" } }));
using TRows = std::vector<std::vector<std::string>>;

class TCatalogueDatabase {
public:
    TCatalogueDatabase() : FPath(FFolder / "catalogue.fdb") { CreateDatabase(FPath, CatalogueSchema()); }

    const std::string& Path() const noexcept { return FPath; }
    const std::string& Folder() const noexcept { return FFolder.Path(); }

    // Runs one statement in a transaction of its own and commits it.
    void Execute(const std::string& sql)
    {
        TFbDataBase connection;
        ConfigureConnection(connection, FPath);
        TFbTransaction transaction;
        transaction.SetDataBase(&connection);
        TFbQuery query;
        query.SetTransaction(&transaction);
        query.SetSQL(sql);
        query.Execute();
        transaction.Commit();
    }

    void AddMovie(int mid, int num)
    {
        Execute("INSERT INTO MOVIES (\"mid\", \"num\") VALUES (" + std::to_string(mid) + ", "
            + std::to_string(num) + ")");
    }

    // Every row of a SELECT with each column as text; SQL null reads as "<null>".
    TRows Rows(const std::string& sql)
    {
        TFbDataBase connection;
        ConfigureConnection(connection, FPath);
        TFbTransaction transaction;
        transaction.SetDataBase(&connection);
        TFbQuery query;
        query.SetTransaction(&transaction);
        query.SetFetchBlobs(true);
        query.SetSQL(sql);
        TRows rows;
        for (query.Open(true); !query.Eof(); query.Next()) {
            std::vector<std::string> row;
            for (int i = 0; i < query.Fields().FieldCount(); ++i)
                row.push_back(query.Fields().IsNull(i) ? "<null>" : query.Fields().GetAsString(i));
            rows.push_back(std::move(row));
        }
        query.Close(etmCommit);
        return rows;
    }

    // The next value gen_pixref will give is this plus one.
    int GeneratorValue()
    {
        return std::stoi(Rows("SELECT gen_id(gen_pixref, 0) FROM rdb$database").at(0).at(0));
    }

private:
    TTempFolder FFolder;
    std::string FPath;
};

} // namespace ibi_test
