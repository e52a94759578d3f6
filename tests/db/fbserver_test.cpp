// The connection over the network: the private Firebird server that ctest starts
// (scripts/fbserver), reached at 127.0.0.1:PORT with the test user's name and password.
#include "db/fbcomponents.h"

#include "tests/db/fb_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <map>

using namespace fbtest;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using testing::ThrowsMessage;

namespace {

// The KEY=VALUE lines that scripts/fbserver start wrote for clients; empty without a server.
std::map<std::string, std::string> ServerEnvironment()
{
    std::map<std::string, std::string> values;
    std::ifstream file(IBI_FBSERVER_DIR "/env");
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

class TFbServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        IBI_REQUIRE_FBCLIENT();
        std::map<std::string, std::string> server = ServerEnvironment();
        if (server.empty())
            GTEST_SKIP() << "no private Firebird server (ctest starts it: scripts/fbserver start "
                         << IBI_FBSERVER_DIR << ")";
        FUser = server["ISC_USER"];
        FPassword = server["ISC_PASSWORD"];
        // A database of this test's own in the server's data folder, made over the network.
        FName = server["FBSERVER_PREFIX"] + server["FBSERVER_DATA"] + "/"
            + testing::UnitTest::GetInstance()->current_test_info()->name() + "-"
            + std::to_string(getpid()) + ".fdb";
        TFbLibrary library;
        library.Load(FbClientLibrary);
        TFbHandle db = 0, tr = 0;
        library.DSQLExecuteImmediate(db, tr, "CREATE DATABASE '" + FName + "' USER '" + FUser
            + "' PASSWORD '" + FPassword + "' PAGE_SIZE 4096 DEFAULT CHARACTER SET UTF8", 3);
        library.DetachDatabase(db);
    }

    std::string FUser, FPassword, FName;
};

// One connection, transaction and query as the import tool wires them, with a user name and
// password. Declared in this order so that the query goes first and the connection last.
struct TServerSession {
    TServerSession(const std::string& name, const std::string& user, const std::string& password)
    {
        ConfigureConnection(Connection, name);
        Connection.SetUserName(user);
        Connection.SetPassWord(password);
        Transaction.SetDataBase(&Connection);
        Query.SetDataBase(&Connection);
        Query.SetTransaction(&Transaction);
    }
    TFbDataBase Connection;
    TFbTransaction Transaction;
    TFbQuery Query;

    void Run(const std::string& sql)
    {
        Query.SetSQL(sql);
        Query.Execute();
        Transaction.Commit();
    }
    // Column 0 of every row, as text.
    std::vector<std::string> Column(const std::string& sql)
    {
        Query.SetSQL(sql);
        std::vector<std::string> values;
        for (Query.Open(true); !Query.Eof(); Query.Next())
            values.push_back(Query.Fields().GetAsString(0));
        Query.Close(etmStayIn);
        return values;
    }
};

TEST_F(TFbServerTest, RowWrittenOverTheNetworkIsReadBackByANewConnection)
{
    const std::string title = "Sm\xC3\xB8rrebr\xC3\xB8" "d \xE6\x9D\xB1\xE4\xBA\xAC"; // UTF-8
    {
        TServerSession session(FName, FUser, FPassword);
        session.Connection.SetConnected(true);
        // Through the listener as the test user, not the embedded engine.
        EXPECT_THAT(session.Column("SELECT MON$REMOTE_PROTOCOL FROM MON$ATTACHMENTS"
                                   " WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION"),
            ElementsAre(StartsWith("TCP")));
        EXPECT_THAT(session.Column("SELECT CURRENT_USER FROM RDB$DATABASE"), ElementsAre(FUser));
        session.Run(R"(CREATE TABLE MOVIES ("mid" INTEGER NOT NULL PRIMARY KEY, "title" VARCHAR(80)))");
        session.Run(R"(INSERT INTO MOVIES ("mid", "title") VALUES ('7', ')" + title + "')");
    }
    TServerSession session(FName, FUser, FPassword);
    session.Connection.SetConnected(true);
    EXPECT_THAT(session.Column(R"(SELECT "mid" || ':' || "title" FROM MOVIES)"), ElementsAre("7:" + title));
}

TEST_F(TFbServerTest, RefusedLogInRaisesTheServersMessage)
{
    const struct {
        const char* what;
        std::string user, password;
    } cases[] = {
        { "wrong password", FUser, FPassword + "x" },
        { "unknown user", "NOBODY_HERE", FPassword },
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.what);
        TServerSession session(FName, refused.user, refused.password);
        EXPECT_THAT([&] { session.Connection.SetConnected(true); },
            ThrowsMessage<EFbError>(HasSubstr("Your user name and password are not defined")));
        EXPECT_FALSE(session.Connection.Connected());
    }
}

} // namespace
