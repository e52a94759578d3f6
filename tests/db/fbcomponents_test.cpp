#include "db/fbcomponents.h"

#include "tests/db/fb_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace fbtest;
using testing::ElementsAre;
using testing::EndsWith;
using testing::HasSubstr;
using testing::MatchesRegex;
using testing::Not;
using testing::StrEq;
using testing::ThrowsMessage;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (const int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

// One connection, transaction and query wired as the import tool wires them. Declared in
// this order so that the query goes first and the connection last.
struct TSession {
    explicit TSession(const std::string& path)
    {
        ConfigureConnection(Connection, path);
        Transaction.SetDataBase(&Connection);
        Query.SetDataBase(&Connection);
        Query.SetTransaction(&Transaction);
        Query.SetFetchBlobs(true);
    }
    TFbDataBase Connection;
    TFbTransaction Transaction;
    TFbQuery Query;

    void Run(const std::string& sql)
    {
        Query.SetSQL(sql);
        Query.Execute();
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

// A database shared by the tests of a suite; each test starts with empty tables.
class TDbTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!FbClientAvailable())
            return;
        FFolder = new TTempFolder;
        FPath = *FFolder / "test.fdb";
        CreateDatabase(FPath, {
            R"(CREATE TABLE items ("id" INTEGER NOT NULL PRIMARY KEY, "name" VARCHAR(40)))",
            R"(CREATE TABLE kinds ("id" INTEGER NOT NULL PRIMARY KEY, "small" SMALLINT, "int" INTEGER,
                "big" BIGINT, "money" NUMERIC(9,2), "exact" NUMERIC(18,4), "real" FLOAT,
                "double" DOUBLE PRECISION, "fixed" CHAR(5), "text" VARCHAR(40), "day" DATE,
                "clock" TIME, "stamp" TIMESTAMP, "memo" BLOB SUB_TYPE TEXT, "raw" BLOB,
                "list" INTEGER[3]))",
            "CREATE EXCEPTION boom 'Boom happened'",
            R"(CREATE PROCEDURE answer RETURNS ("r" INTEGER) AS BEGIN "r" = 42; END)",
        });
    }
    // A second database, made by the one test that needs it.
    static const std::string& Other()
    {
        if (FOther.empty()) {
            FOther = *FFolder / "other.fdb";
            CreateDatabase(FOther, { R"(CREATE TABLE items ("id" INTEGER NOT NULL PRIMARY KEY, "name" VARCHAR(40)))" });
        }
        return FOther;
    }
    static void TearDownTestSuite()
    {
        delete FFolder;
        FFolder = nullptr;
        FOther.clear();
    }
    void SetUp() override
    {
        IBI_REQUIRE_FBCLIENT();
        TSession session(FPath);
        session.Run("EXECUTE BLOCK AS BEGIN DELETE FROM items; DELETE FROM kinds; END");
        session.Transaction.Commit();
    }
    static inline TTempFolder* FFolder = nullptr;
    static inline std::string FPath, FOther;
};

using TFbDataBaseTest = TDbTest;
using TFbTransactionTest = TDbTest;
using TFbStatementTest = TDbTest;

} // namespace

// ---- connection parameters (no database needed) ----

TEST(TFbDataBase, NewConnectionHasDialectAndCharacterSetLines)
{
    TFbDataBase connection;
    EXPECT_THAT(connection.Params(), ElementsAre("sql_dialect=3", "lc_ctype=NONE"));
    connection.SetSQLDialect(3);
    connection.SetCharacterSet(csUNICODE_FSS);
    connection.SetUserName("");
    EXPECT_THAT(connection.Params(), ElementsAre("sql_dialect=3", "lc_ctype=UNICODE_FSS", "user_name="));
    EXPECT_EQ(connection.LibraryName(), "libfbclient.so.2");
    EXPECT_EQ(BuildDPB(connection.ParamsText(), '\r'), Bytes({ 1, 63, 1, 3, 48, 11 }) + "UNICODE_FSS");
}

TEST(TFbDataBase, ReadsParameterLinesForgivingly)
{
    TFbDataBase connection;
    connection.SetParams({ "sql_dialect=x", "lc_ctype= unicode_fss ", "shutdown=abc" });
    EXPECT_EQ(connection.CharacterSet(), csUNICODE_FSS);
    EXPECT_THROW(connection.SQLDialect(), EConvertError);
    EXPECT_EQ(connection.Params()[0], "sql_dialect=3");
    EXPECT_EQ(connection.SQLDialect(), 3);
    EXPECT_EQ(connection.Shutdown(), 0);
    EXPECT_EQ(connection.Params()[2], "shutdown=0");
    connection.WriteParamString("lc_ctype", "KLINGON");
    EXPECT_EQ(connection.CharacterSet(), csNONE);
    connection.SetShutdown(1 << static_cast<int>(sdForce));
    EXPECT_EQ(connection.ReadParamString("shutdown", ""), "8");
}

TEST(TFbDataBase, DisconnectingADisconnectedConnectionFiresNothing)
{
    TFbDataBase connection;
    int events = 0;
    connection.BeforeDisconnect = connection.AfterDisconnect = [&](TFbDataBase&) { ++events; };
    connection.SetConnected(false);
    EXPECT_EQ(events, 0);
}

TEST(TFbDataBase, MissingLibraryFailsTheConnect)
{
    TFbDataBase connection;
    connection.SetLibraryName("libnot-a-client.so.7");
    EXPECT_THAT([&] { connection.SetConnected(true); },
        ThrowsMessage<Exception>(StrEq("Can't load library: libnot-a-client.so.7.")));
    EXPECT_FALSE(connection.Connected());
}

TEST(TFbTransaction, BuildsTheParameterBlockFromItsOptions)
{
    TFbTransaction transaction;
    EXPECT_EQ(transaction.Options().Bits(), 0x122u);
    EXPECT_EQ(transaction.BuildTPB(), "");
    transaction.SetOptions({ tpReadCommitted, tpRecVersion, tpRead, tpNowait });
    EXPECT_EQ(transaction.BuildTPB(), Bytes({ 3, 7, 8, 15, 17 }));
    transaction.SetOptions({ tpConcurrency, tpWrite, tpLockWrite, tpLockRead });
    transaction.SetLockWrite("A;;B");
    transaction.SetLockRead("images");
    EXPECT_EQ(transaction.BuildTPB(), Bytes({ 3, 2, 9, 10, 6 }) + "images" + Bytes({ 11, 1, 'A', 11, 1, 'B' }));
    // A lock time-out only goes with wait mode, as four bytes, least significant first.
    transaction.SetLockTimeout(258);
    EXPECT_EQ(transaction.BuildTPB(), Bytes({ 3, 2, 9, 10, 6 }) + "images" + Bytes({ 11, 1, 'A', 11, 1, 'B' }));
    transaction.SetOptions(DefaultTransParams);
    EXPECT_EQ(transaction.BuildTPB(), Bytes({ 3, 2, 6, 9, 21, 4, 2, 1, 0, 0 }));
}

TEST(TFbTransaction, DefaultActionIsCommitOrRollbackOnly)
{
    TFbTransaction transaction;
    EXPECT_THAT([&] { transaction.SetDefaultAction(etmStayIn); },
        ThrowsMessage<EAssertionFailed>(MatchesRegex(R"(Commit or Rollback only\. \(fbcomponents\.cpp, line [0-9]+\))")));
    EXPECT_EQ(transaction.DefaultAction(), etmCommit);
    transaction.SetDefaultAction(etmRollback);
    EXPECT_EQ(transaction.DefaultAction(), etmRollback);
}

TEST(TFbTransaction, NeedsADatabase)
{
    TFbTransaction transaction;
    EXPECT_THAT([&] { transaction.StartTransaction(); }, ThrowsMessage<Exception>(StrEq("Database not assigned.")));
    EXPECT_FALSE(transaction.Commit()); // nothing active: nothing to do
}

TEST(TFbStatement, NeedsATransactionAndAResult)
{
    TFbQuery query;
    query.SetSQL("SELECT 1 FROM rdb$database");
    EXPECT_THAT([&] { query.Execute(); }, ThrowsMessage<Exception>(StrEq("Transaction not assigned.")));
    EXPECT_THAT([&] { query.Fields(); }, ThrowsMessage<Exception>(StrEq("Query not open.")));
    EXPECT_TRUE(query.Eof());
    query.SetCachedFetch(false);
    EXPECT_THAT([&] { query.Prior(); }, ThrowsMessage<Exception>(StrEq("CachedFetch property not set to True.")));
    TFbTransaction transaction;
    query.SetTransaction(&transaction);
    EXPECT_THAT([&] { query.Execute(); }, ThrowsMessage<Exception>(StrEq("Database not assigned.")));
}

// ---- connection against a real database ----

TEST_F(TFbDataBaseTest, ConnectsAndDisconnectsWithItsEvents)
{
    TFbDataBase connection;
    ConfigureConnection(connection, FPath);
    std::vector<std::string> events;
    connection.BeforeConnect = [&](TFbDataBase& c) { events.push_back(c.Connected() ? "before+" : "before"); };
    connection.AfterConnect = [&](TFbDataBase& c) { events.push_back(c.Connected() ? "after+" : "after"); };
    connection.BeforeDisconnect = [&](TFbDataBase&) { events.push_back("bye"); };
    connection.AfterDisconnect = [&](TFbDataBase& c) { events.push_back(c.Connected() ? "gone+" : "gone"); };
    connection.SetConnected(true);
    connection.SetConnected(true);
    EXPECT_TRUE(connection.Connected());
    EXPECT_NE(connection.DbHandle(), 0u);
    connection.SetConnected(false);
    EXPECT_THAT(events, ElementsAre("before", "after+", "bye", "gone"));
    EXPECT_EQ(connection.DbHandle(), 0u);
}

TEST_F(TFbDataBaseTest, MissingFileFailsWithTheLibraryMessageAndStaysDisconnected)
{
    TFbDataBase connection;
    ConfigureConnection(connection, *FFolder / "nothing-here.fdb");
    try {
        connection.SetConnected(true);
        FAIL();
    } catch (const EFbError& error) {
        EXPECT_THAT(error.what(), HasSubstr("nothing-here.fdb"));
        EXPECT_THAT(error.what(), EndsWith("\nError Code: " + std::to_string(error.ErrorCode())));
        EXPECT_THAT(error.what(), Not(HasSubstr("\r"))) << "lines end in plain line feeds";
        EXPECT_NE(error.ErrorCode(), 0);
    }
    EXPECT_FALSE(connection.Connected());
    EXPECT_TRUE(connection.Library().IsLoaded());
}

TEST_F(TFbDataBaseTest, DisconnectEndsTransactionsWithTheirDefaultAction)
{
    for (const TEndTransMode action : { etmCommit, etmRollback }) {
        {
            TSession session(FPath);
            session.Transaction.SetDefaultAction(action);
            session.Run(R"(INSERT INTO items ("id", "name") VALUES (1, 'kept?'))");
            session.Query.SetSQL(R"(SELECT "id" FROM items)");
            session.Query.Open(true); // a statement handle is open too
            session.Connection.SetConnected(false);
            EXPECT_FALSE(session.Transaction.InTransaction());
            EXPECT_EQ(session.Query.State(), ssTransaction); // restarts the transaction on demand
            EXPECT_EQ(session.Query.StHandle(), 0u);
        }
        TSession check(FPath);
        EXPECT_EQ(check.Column(R"(SELECT COUNT(*) FROM items)"), std::vector<std::string> { action == etmCommit ? "1" : "0" });
        check.Run("DELETE FROM items");
        check.Transaction.Commit();
    }
}

TEST_F(TFbDataBaseTest, ConnectionFreedFirstLeavesNoDanglingReferences)
{
    auto connection = std::make_unique<TFbDataBase>();
    ConfigureConnection(*connection, FPath);
    TFbTransaction transaction;
    TFbQuery query;
    transaction.SetDataBase(connection.get());
    query.SetDataBase(connection.get());
    query.SetTransaction(&transaction);
    query.SetSQL(R"(INSERT INTO items ("id") VALUES (5))");
    query.Execute();
    connection.reset(); // commits and detaches
    EXPECT_EQ(transaction.DataBase(), nullptr);
    EXPECT_EQ(query.DataBase(), nullptr);
    EXPECT_THAT([&] { query.Execute(); }, ThrowsMessage<Exception>(StrEq("Database not assigned.")));
    TSession check(FPath);
    EXPECT_EQ(check.Column(R"(SELECT "id" FROM items)"), std::vector<std::string> { "5" });
}

TEST_F(TFbDataBaseTest, LostConnectionDisconnectsQuietlyBeforeTheErrorArrives)
{
    TSession session(FPath);
    session.Run(R"(INSERT INTO items ("id") VALUES (1))");
    int lost = 0;
    session.Connection.OnConnectionLost = [&](TFbDataBase& connection) {
        ++lost;
        EXPECT_FALSE(connection.Connected());
    };
    TFbLibrary& library = session.Connection.Library();
    const TIscStatus connectionLost = 335544741;
    std::fill_n(library.StatusVector(), StatusVectorLength, 0);
    library.StatusVector()[0] = 1; // a status code follows
    library.StatusVector()[1] = connectionLost;
    try {
        library.CheckFbApiCall(connectionLost);
        FAIL();
    } catch (const EFbError& error) {
        EXPECT_EQ(error.ErrorCode(), 421);
        EXPECT_THAT(error.what(), EndsWith("Error Code: 421"));
    }
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(session.Connection.Connected());
    EXPECT_FALSE(session.Transaction.InTransaction());
    EXPECT_TRUE(library.RaiseErrors());
}

TEST_F(TFbDataBaseTest, DestroyedConnectionReleasesItsAttachmentEvenWhenEndingFails)
{
    auto connection = std::make_unique<TFbDataBase>();
    ConfigureConnection(*connection, FPath);
    TFbTransaction transaction;
    transaction.SetAutoStop(false); // the automatic end at disconnect is refused
    transaction.SetDataBase(connection.get());
    TFbQuery query;
    query.SetTransaction(&transaction);
    query.SetSQL(R"(INSERT INTO items ("id") VALUES (1))");
    query.Execute();
    connection.reset();
    TSession check(FPath);
    EXPECT_EQ(check.Column("SELECT COUNT(*) FROM mon$attachments WHERE mon$attachment_id <> current_connection "
                           "AND mon$system_flag = 0"),
        std::vector<std::string> { "0" });
    EXPECT_EQ(check.Column("SELECT COUNT(*) FROM items"), std::vector<std::string> { "0" }); // rolled back
}

// ---- transactions ----

TEST_F(TFbTransactionTest, StartsOnceAndEndsWithEvents)
{
    TSession session(FPath);
    std::vector<std::string> events;
    session.Transaction.OnStartTransaction = [&](TFbTransaction&) { events.push_back("start"); };
    session.Transaction.OnEndTransaction = [&](TFbTransaction&, TEndTransMode& mode) {
        events.push_back("end");
        mode = etmRollback; // the handler decides
    };
    session.Transaction.StartTransaction();
    session.Transaction.StartTransaction();
    session.Run(R"(INSERT INTO items ("id") VALUES (1))");
    EXPECT_TRUE(session.Transaction.Commit());
    EXPECT_FALSE(session.Transaction.Commit());
    EXPECT_THAT(events, ElementsAre("start", "end"));
    session.Transaction.OnEndTransaction = nullptr;
    EXPECT_TRUE(session.Column("SELECT COUNT(*) FROM items") == std::vector<std::string> { "0" });
}

TEST_F(TFbTransactionTest, AutomaticStartNeedsAutoStart)
{
    TSession session(FPath);
    session.Transaction.SetAutoStart(false);
    session.Query.SetSQL(R"(INSERT INTO items ("id") VALUES (1))");
    EXPECT_THAT([&] { session.Query.Execute(); },
        ThrowsMessage<EFbException>(StrEq("Transaction must be started explicitly.")));
    session.Transaction.StartTransaction();
    EXPECT_NO_THROW(session.Query.Execute());
    session.Transaction.Rollback();
}

TEST_F(TFbTransactionTest, AutomaticEndNeedsAutoStop)
{
    TSession session(FPath);
    session.Transaction.SetAutoStop(false);
    session.Run(R"(INSERT INTO items ("id") VALUES (1))");
    EXPECT_THAT([&] { session.Connection.SetConnected(false); },
        ThrowsMessage<EAssertionFailed>(MatchesRegex(R"(Transaction must be closed explicitly\. \(fbcomponents\.cpp, line [0-9]+\))")));
    EXPECT_FALSE(session.Transaction.InTransaction()); // the refused end rolled back
    session.Connection.SetConnected(false);
    EXPECT_FALSE(session.Connection.Connected());
}

TEST_F(TFbTransactionTest, CommitWithAnOpenCursorClosesItUnlessAutoRetain)
{
    for (const bool autoRetain : { false, true }) {
        TSession session(FPath);
        session.Run(R"(INSERT INTO items ("id") VALUES (1))");
        session.Run(R"(INSERT INTO items ("id") VALUES (2))");
        session.Transaction.Commit();
        session.Transaction.SetAutoRetain(autoRetain);
        session.Query.SetCachedFetch(false);
        session.Query.SetSQL(R"(SELECT "id" FROM items ORDER BY "id")");
        session.Query.Open(true);
        EXPECT_EQ(session.Transaction.OpenStatementCount(), 1);
        if (!autoRetain) {
            EXPECT_TRUE(session.Transaction.Commit());
            EXPECT_EQ(session.Query.State(), ssTransaction);
            EXPECT_EQ(session.Query.StHandle(), 0u);
            EXPECT_EQ(session.Transaction.OpenStatementCount(), 0);
            EXPECT_FALSE(session.Transaction.InTransaction());
        } else {
            EXPECT_FALSE(session.Transaction.Commit()); // retaining: the transaction goes on
            EXPECT_TRUE(session.Transaction.InTransaction());
            EXPECT_EQ(session.Query.State(), ssExecuted);
            session.Query.Next();
            EXPECT_EQ(session.Query.Fields().AsInteger(0), 2);
            session.Query.Close(etmStayIn);
        }
        session.Run("DELETE FROM items");
        session.Transaction.Commit();
    }
}

TEST_F(TFbTransactionTest, SpansTwoConnections)
{
    TSession session(FPath);
    TFbDataBase other;
    ConfigureConnection(other, Other());
    session.Run(R"(INSERT INTO items ("id") VALUES (1))");
    session.Transaction.AddDataBase(&other); // ends the active transaction first (commit)
    EXPECT_FALSE(session.Transaction.InTransaction());
    session.Run(R"(INSERT INTO items ("id") VALUES (2))");
    EXPECT_TRUE(other.Connected());
    TFbQuery second;
    second.SetDataBase(&other);
    second.SetTransaction(&session.Transaction);
    second.SetSQL(R"(INSERT INTO items ("id", "name") VALUES (3, 'other'))");
    second.Execute();
    session.Transaction.Rollback();
    session.Run(R"(INSERT INTO items ("id") VALUES (4))");
    second.Execute();
    session.Transaction.Commit();
    EXPECT_EQ(session.Column(R"(SELECT "id" FROM items ORDER BY 1)"), (std::vector<std::string> { "1", "4" }));
    TSession check(Other());
    EXPECT_EQ(check.Column(R"(SELECT "id" FROM items)"), std::vector<std::string> { "3" });
}

TEST_F(TFbTransactionTest, ThreadsShareOneConnectionThroughTheLocks)
{
    TFbDataBase connection;
    ConfigureConnection(connection, FPath);
    connection.SetConnected(true);
    const auto work = [&](int first) {
        TFbTransaction transaction;
        transaction.SetDataBase(&connection);
        TFbQuery query;
        query.SetTransaction(&transaction);
        query.SetSQL(R"(INSERT INTO items ("id") VALUES (:id))");
        for (int id = first; id < first + 25; ++id) {
            query.Params().SetAsInteger(0, id);
            query.Execute();
        }
        query.SetSQL(R"(SELECT COUNT(*) FROM items WHERE "id" >= :first AND "id" < :first + 25)");
        query.Params().SetAsInteger("first", first);
        query.Open(true);
        EXPECT_EQ(query.Fields().AsInteger(0), 25);
        query.Close(etmCommit);
    };
    std::thread one(work, 0), two(work, 100);
    one.join();
    two.join();
    TSession check(FPath);
    EXPECT_EQ(check.Column("SELECT COUNT(*) FROM items"), std::vector<std::string> { "50" });
}

// ---- statements ----

TEST_F(TFbStatementTest, ClimbsAndStepsDownTheStates)
{
    TSession session(FPath);
    TFbQuery& query = session.Query;
    EXPECT_EQ(query.State(), ssNone);
    query.SetSQL(R"(INSERT INTO items ("id", "name") VALUES (1, 'one'))");
    query.Execute();
    EXPECT_EQ(query.State(), ssExecutedImmediate);
    EXPECT_EQ(query.StHandle(), 0u);
    EXPECT_EQ(session.Transaction.OpenStatementCount(), 0);
    query.Close(etmStayIn);
    EXPECT_EQ(query.State(), ssTransaction);

    query.SetSQL(R"(SELECT "id", "name" FROM items)");
    query.Open(true);
    EXPECT_EQ(query.State(), ssExecuted);
    EXPECT_NE(query.StHandle(), 0u);
    EXPECT_EQ(query.CursorName(), "C" + std::to_string(query.StHandle()));
    EXPECT_EQ(query.StatementType(), 0); // a select
    EXPECT_EQ(session.Transaction.OpenStatementCount(), 1);
    EXPECT_FALSE(query.Eof());
    EXPECT_EQ(query.Fields().AsString("name"), "one");
    query.Next();
    EXPECT_TRUE(query.Eof());
    query.Open(true); // again: closes the cursor, executes, fetches the first row
    EXPECT_FALSE(query.Eof());
    EXPECT_EQ(query.Fields().AsInteger(0), 1);
    query.CloseCursor();
    EXPECT_EQ(query.State(), ssPrepared);
    query.Close(etmStayIn);
    EXPECT_EQ(query.State(), ssTransaction);
    EXPECT_EQ(query.StHandle(), 0u);
    EXPECT_EQ(session.Transaction.OpenStatementCount(), 0);
    EXPECT_TRUE(session.Transaction.InTransaction());
    query.Close(etmStayIn);

    query.SetSQL(R"(SELECT "id" FROM items)");
    query.Open(true);
    int closes = 0;
    query.OnClose = [&](TFbStatement&) { ++closes; };
    query.SetSQL("SELECT 2 FROM rdb$database"); // new text drops the handle first
    EXPECT_EQ(query.State(), ssTransaction);
    EXPECT_EQ(query.StHandle(), 0u);
    EXPECT_EQ(closes, 1);
    query.Open(true);
    query.Close(etmCommit);
    EXPECT_EQ(query.State(), ssNone);
    EXPECT_FALSE(session.Transaction.InTransaction());
}

TEST_F(TFbDataBaseTest, TellsWhetherWritesAreForced)
{
    TSession session(FPath);
    EXPECT_THROW(session.Connection.ForcedWrites(), Exception);
    for (const bool forced : { true, false }) { // the suite's database is left as made: not forced
        TFbLibrary library;
        library.Load(FbClientLibrary);
        TFbHandle db = 0;
        library.AttachDatabaseDPB(FPath, db, std::string { 1, 24, 1, static_cast<char>(forced) }); // isc_dpb_force_write
        library.DetachDatabase(db);
        session.Connection.SetConnected(true);
        EXPECT_EQ(session.Connection.ForcedWrites(), forced);
        session.Connection.SetConnected(false);
    }
}

TEST_F(TFbStatementTest, BlankTextStartsTheTransactionAndSendsNothing)
{
    TSession session(FPath);
    session.Run("  \r\n ");
    EXPECT_EQ(session.Query.State(), ssExecutedImmediate);
    EXPECT_TRUE(session.Transaction.InTransaction());
}

TEST_F(TFbStatementTest, EmptyResultIsEofWithFieldsAvailable)
{
    TSession session(FPath);
    session.Query.SetSQL(R"(SELECT "id", "name" FROM items WHERE "id" = -1)");
    session.Query.Open(true);
    EXPECT_TRUE(session.Query.Eof());
    EXPECT_EQ(session.Query.Fields().FieldCount(), 2);
    EXPECT_EQ(session.Query.Fields().GetFieldIndex("NAME"), 1);
    EXPECT_EQ(session.Query.Fields().RelName(1), "ITEMS");
    session.Query.Close(etmStayIn);
    EXPECT_TRUE(session.Transaction.InTransaction());
}

TEST_F(TFbStatementTest, OnErrorDecidesWhatAFailingInsertDoesToTheTransaction)
{
    for (const TEndTransMode onError : { etmStayIn, etmRollback }) {
        TSession session(FPath);
        session.Query.SetOnError(onError);
        session.Run(R"(INSERT INTO items ("id") VALUES (1))");
        session.Query.SetSQL(R"(INSERT INTO items ("id") VALUES (1))");
        try {
            session.Query.Execute();
            FAIL();
        } catch (const EFbError& error) {
            EXPECT_THAT(error.what(), HasSubstr("PRIMARY"));
            EXPECT_EQ(error.SQLCode(), -803);
        }
        EXPECT_EQ(session.Transaction.InTransaction(), onError == etmStayIn);
        EXPECT_EQ(session.Query.State(), onError == etmStayIn ? ssTransaction : ssNone);
        session.Transaction.Commit();
        EXPECT_EQ(session.Column("SELECT COUNT(*) FROM items"), std::vector<std::string> { onError == etmStayIn ? "1" : "0" });
        session.Run("DELETE FROM items");
        session.Transaction.Commit();
    }
}

TEST_F(TFbStatementTest, FailedPrepareDropsTheHandleEvenWhenStayingIn)
{
    TSession session(FPath);
    session.Query.SetOnError(etmStayIn);
    session.Query.SetSQL("SELECT nothing FROM nowhere");
    EXPECT_THROW(session.Query.Open(true), EFbError);
    EXPECT_EQ(session.Query.StHandle(), 0u);
    EXPECT_EQ(session.Query.State(), ssTransaction);
    EXPECT_EQ(session.Transaction.OpenStatementCount(), 0);
    EXPECT_TRUE(session.Transaction.InTransaction());
}

TEST_F(TFbStatementTest, ParametersBindByNameAndPosition)
{
    TSession session(FPath);
    session.Query.SetSQL(R"(INSERT INTO items ("id", "name") VALUES (:id, :name))");
    for (int id = 1; id <= 3; ++id) {
        session.Query.Params().SetAsInteger("id", id);
        session.Query.Params().SetAsString("name", "n" + std::to_string(id));
        session.Query.Execute();
    }
    session.Query.SetSQL(R"(SELECT "name" FROM items WHERE "id" = :x OR "id" = :x + 1 ORDER BY 1)");
    session.Query.Params().SetAsInteger("x", 2);
    std::vector<std::string> names;
    for (session.Query.Open(true); !session.Query.Eof(); session.Query.Next())
        names.push_back(session.Query.Fields().AsString(0));
    EXPECT_EQ(names, (std::vector<std::string> { "n2", "n3" }));
    session.Query.Close(etmStayIn);
    session.Query.SetSQL(R"(UPDATE items SET "name" = ? WHERE "id" = ?)");
    session.Query.Params().SetAsString(0, "two");
    session.Query.Params().SetAsInteger(1, 2);
    session.Query.Execute();
    EXPECT_EQ(session.Column(R"(SELECT "name" FROM items WHERE "id" = 2)"), std::vector<std::string> { "two" });
}

TEST_F(TFbStatementTest, UserExceptionsRaiseEFbExceptionOrTheRegisteredClass)
{
    TSession session(FPath);
    session.Query.SetSQL("EXECUTE BLOCK AS BEGIN EXCEPTION boom; END");
    int number = 0;
    try {
        session.Query.Execute();
        FAIL();
    } catch (const EFbException& error) {
        number = error.Number();
        EXPECT_GT(number, 0);
        EXPECT_THAT(error.what(), HasSubstr("Boom happened"));
        EXPECT_THAT(error.what(), EndsWith("Error Code: 197"));
    }
    session.Connection.RegisterException(MakeFbError<EFbGFixError>, number);
    EXPECT_THROW(session.Query.Execute(), EFbGFixError);
    session.Connection.UnregisterException(number);
    EXPECT_THROW(session.Query.Execute(), EFbException);
}

TEST_F(TFbStatementTest, ExecutableProcedureGivesItsOneRow)
{
    TSession session(FPath);
    session.Query.SetSQL("EXECUTE PROCEDURE answer");
    for (int round = 0; round < 2; ++round) {
        session.Query.Open(true);
        EXPECT_EQ(session.Query.StatementType(), 7);
        ASSERT_FALSE(session.Query.Eof());
        EXPECT_EQ(session.Query.Fields().AsInteger("r"), 42);
        session.Query.Next();
        EXPECT_TRUE(session.Query.Eof());
    }
    session.Query.Close(etmStayIn);
    EXPECT_EQ(session.Transaction.OpenStatementCount(), 0);
}

TEST_F(TFbStatementTest, QuickScriptRunsEachLine)
{
    TSession session(FPath);
    session.Query.SetQuickScript(true);
    session.Query.SetSQL("INSERT INTO items (\"id\") VALUES (1)\r\n\r\nINSERT INTO items (\"id\") VALUES (2)");
    session.Query.Execute();
    session.Query.SetQuickScript(false);
    EXPECT_EQ(session.Column("SELECT COUNT(*) FROM items"), std::vector<std::string> { "2" });
}

TEST_F(TFbStatementTest, ExecuteBlockIsSentVerbatim)
{
    TSession session(FPath);
    session.Run("EXECUTE BLOCK AS declare n int; declare i int = 0; begin "
                "select 3 from rdb$database into :n; "
                "while (i < n) do begin i = i + 1; insert into items (\"id\") values (:i); end end");
    EXPECT_EQ(session.Query.Params().FieldCount(), 0);
    EXPECT_EQ(session.Column("SELECT COUNT(*) FROM items"), std::vector<std::string> { "3" });
}

TEST_F(TFbStatementTest, EverySqlTypeRoundTrips)
{
    TSession session(FPath);
    session.Run("INSERT INTO kinds (\"id\", \"small\", \"int\", \"big\", \"money\", \"exact\", \"real\", "
                "\"double\", \"fixed\", \"text\", \"day\", \"clock\", \"stamp\", \"memo\", \"raw\") "
                "VALUES (1, -7, 2147483647, 9007199254740993, 123.45, -12345678901234.5678, 1.5, 0.1, "
                "'ab', 'Fil\xC3\xA9''s \xE6\x97\xA5\xE6\x9C\xAC', DATE '2023-03-15', TIME '13:45:30.1234', "
                "TIMESTAMP '2023-03-15 12:00:00', 'memo text', x'00FF10')");
    session.Run(R"(INSERT INTO kinds ("id") VALUES (2))");
    // A blob longer than one segment.
    session.Run("EXECUTE BLOCK AS declare b blob sub_type text = ''; declare i int = 0; "
                "declare s varchar(1000) = ''; begin s = lpad('', 1000, 'abcdefghijklmnopqrst'); "
                "while (i < 100) do begin b = b || s; i = i + 1; end "
                "insert into kinds (\"id\", \"memo\") values (3, :b); end");
    session.Query.SetSQL(R"(SELECT * FROM kinds ORDER BY "id")");
    session.Query.Open(true);
    TSQLResult& row = session.Query.Fields();
    const auto at = [&](const char* name) { return row.GetFieldIndex(name); };
    EXPECT_EQ(row.FieldType(at("small")), fkSmallint);
    EXPECT_EQ(row.AsInteger(at("small")), -7);
    EXPECT_EQ(row.AsInteger(at("int")), 2147483647);
    EXPECT_EQ(row.FieldType(at("big")), fkBigint);
    EXPECT_EQ(row.GetAsString(at("big")), "9007199254740993");
    EXPECT_EQ(row.AsInt64(at("big")), 9007199254740993);
    EXPECT_EQ(row.FieldType(at("money")), fkNumeric);
    EXPECT_EQ(row.AsInteger(at("money")), 123);
    EXPECT_EQ(row.GetAsString(at("money")), "123.45");
    EXPECT_EQ(row.GetAsString(at("exact")), "-12345678901234.5678");
    EXPECT_EQ(row.FieldType(at("real")), fkFloat);
    EXPECT_EQ(row.GetAsString(at("real")), "1.5");
    EXPECT_EQ(row.GetAsString(at("double")), "0.1");
    EXPECT_EQ(row.FieldType(at("fixed")), fkChar);
    const std::string fixed = row.GetAsString(at("fixed"));
    EXPECT_EQ(fixed.substr(0, 2), "ab");
    EXPECT_EQ(fixed.find_first_not_of(' ', 2), std::string::npos); // blank-padded to its length
    EXPECT_EQ(row.GetAsString(at("text")), "Fil\xC3\xA9's \xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(row.GetAsWideString(at("text")), u"Fil\u00E9's \u65E5\u672C");
    EXPECT_EQ(row.GetAsString(at("day")), "2023-03-15");
    EXPECT_EQ(row.AsInteger(at("day")), 45000);
    EXPECT_EQ(row.GetAsString(at("clock")), "13:45:30");
    EXPECT_EQ(row.AsDateTime(at("stamp")), 45000.5);
    EXPECT_EQ(row.GetAsString(at("memo")), "memo text");
    EXPECT_EQ(row.GetAsString(at("raw")), std::string("\x00\xFF\x10", 3));
    EXPECT_EQ(row.FieldType(at("list")), fkArray);
    EXPECT_TRUE(row.IsNull(at("list")));
    EXPECT_THROW(row.AsInteger(at("memo")), EFbConvertError);

    session.Query.Next(); // the row of nulls
    for (int i = 1; i < row.FieldCount(); ++i) {
        EXPECT_TRUE(row.IsNull(i)) << row.AliasName(i);
        EXPECT_EQ(row.AsInteger(i), 0);
        EXPECT_EQ(row.GetAsString(i), "");
    }
    session.Query.Next();
    const std::string memo = row.GetAsString(at("memo"));
    EXPECT_EQ(memo.size(), 100000u);
    EXPECT_EQ(memo.substr(99980), "abcdefghijklmnopqrst");
    session.Query.Next();
    EXPECT_TRUE(session.Query.Eof());

    // The cached rows keep their own blobs.
    row.GetRecord(0);
    EXPECT_EQ(row.GetAsString(at("memo")), "memo text");
    session.Query.Close(etmStayIn);
}

TEST_F(TFbStatementTest, ParametersOfEveryKindReachTheServer)
{
    TSession session(FPath);
    session.Query.SetSQL(R"(INSERT INTO kinds ("id", "small", "big", "money", "double", "text", "day", "clock", "stamp", "memo")
        VALUES (:id, :small, :big, :money, :double, :text, :day, :clock, :stamp, :memo))");
    TSQLParams& params = session.Query.Params();
    params.SetAsInteger(params.GetFieldIndex("id"), 1);
    params.SetAsSmallint(params.GetFieldIndex("small"), -3);
    params.SetAsString(params.GetFieldIndex("big"), "9007199254740993");
    params.SetAsCurrency(params.GetFieldIndex("money"), 1.15);
    params.SetAsDouble(params.GetFieldIndex("double"), 2.5);
    params.SetAsWideString(params.GetFieldIndex("text"), u"\u00E9t\u00E9");
    params.SetAsDate(params.GetFieldIndex("day"), 45000.75);
    params.SetAsTime(params.GetFieldIndex("clock"), 0.5);
    params.SetAsDateTime(params.GetFieldIndex("stamp"), 45000.25);
    params.SetAsString(params.GetFieldIndex("memo"), "blob from text");
    session.Query.Execute();
    session.Query.SetSQL(R"(SELECT "small", "big", "money", "double", "text", "day", "clock", "stamp", "memo" FROM kinds)");
    session.Query.Open(true);
    TSQLResult& row = session.Query.Fields();
    EXPECT_EQ(row.AsInteger(0), -3);
    EXPECT_EQ(row.GetAsString(1), "9007199254740993");
    EXPECT_EQ(row.GetAsString(2), "1.15");
    EXPECT_EQ(row.AsDouble(3), 2.5);
    EXPECT_EQ(row.GetAsString(4), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(row.GetAsString(5), "2023-03-15");
    EXPECT_EQ(row.GetAsString(6), "12:00:00");
    EXPECT_EQ(row.GetAsString(7), "2023-03-15 06:00:00");
    EXPECT_EQ(row.GetAsString(8), "blob from text");
    session.Query.Close(etmStayIn);
}
