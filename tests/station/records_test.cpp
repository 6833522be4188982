// Record stores without a database server: record_key in SQLite (a record written twice is kept
// once; a file from before record_key gets the column), the status texts, and a spooled store
// whose database is not there (its records wait, survive the store, and say why).

#include "tests/support/temp_dir.h"
#include "tools/station/records.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

namespace {

FlashRecord record_of(const QString& unit, const QString& key)
{
    return FlashRecord{.station = "Bench S",
                       .unit = unit,
                       .started = QDateTime(QDate(2026, 12, 9), QTime(13, 15, 0, 5), Qt::UTC),
                       .ended = QDateTime(QDate(2026, 12, 9), QTime(13, 15, 9, 405), Qt::UTC),
                       .seconds = 9.4,
                       .passed = true,
                       .exit_status = 0,
                       .journal = "result: pass\n",
                       .key = key};
}

} // namespace

TEST(RecordStores, StatusTexts)
{
    EXPECT_EQ(records_status_text({0, ""}), "records: all in the database");
    EXPECT_EQ(records_status_text({3, ""}), "records: 3 waiting for the database");
    EXPECT_EQ(records_status_text({3, "no route"}), "records: 3 waiting for the database");
    EXPECT_EQ(records_status_text({0, "no route"}), "records: 0 waiting for the database");
    EXPECT_NE(new_record_key(), new_record_key());
    EXPECT_EQ(new_record_key().size(), 36);
}

TEST(RecordStores, SqliteKeepsEachKeyOnceAndGivesAnOlderFileTheKey)
{
    TempWorkDir dir;
    const QString path = QString::fromStdString(dir.path("records.sqlite"));
    {
        QSqlDatabase old = QSqlDatabase::addDatabase("QSQLITE", "old-records");
        old.setDatabaseName(path);
        ASSERT_TRUE(old.open());
        QSqlQuery query(old);
        ASSERT_TRUE(query.exec(
            "CREATE TABLE flashes (id INTEGER PRIMARY KEY, station TEXT, unit TEXT, port TEXT, "
            "adapter TEXT, started TEXT, ended TEXT, seconds REAL, result TEXT, exit_status "
            "INTEGER, reason TEXT, uploads TEXT, answers TEXT, journal TEXT)"));
        ASSERT_TRUE(query.exec("INSERT INTO flashes (unit, result) VALUES ('A0', 'fail')"));
        old.close();
    }
    QSqlDatabase::removeDatabase("old-records");

    QString error;
    const auto store = open_record_store(path.toStdString(), error);
    ASSERT_NE(store, nullptr) << error.toStdString();
    EXPECT_EQ(store->status(), std::nullopt);
    EXPECT_TRUE(store->write(record_of("A1", "0b8f3c1e-1111-4222-8333-444455556666")));
    EXPECT_TRUE(store->write(record_of("A2", "0b8f3c1e-1111-4222-8333-444455556666")));
    EXPECT_TRUE(store->write(record_of("A3", "9d4c2a10-5555-4666-8777-888899990000")));
    const auto all = store->readAll();
    ASSERT_TRUE(all) << store->error().toStdString();
    ASSERT_EQ(all->size(), 3u);
    EXPECT_EQ((*all)[0].unit, "A0");
    EXPECT_EQ((*all)[0].key, "");
    EXPECT_EQ((*all)[1].unit, "A1");
    EXPECT_EQ((*all)[1].key, "0b8f3c1e-1111-4222-8333-444455556666");
    EXPECT_EQ((*all)[1].started, record_of("", "").started);
    EXPECT_EQ((*all)[1].exit_status, 0);
    EXPECT_EQ((*all)[2].unit, "A3");
}

TEST(RecordStores, ASpooledStoreKeepsWhatItCannotSend)
{
    TempWorkDir dir;
    // A socket folder where no server listens: every attempt fails at once, without a network.
    const std::string url = "postgresql://kestrin@" +
                            QString::fromStdString(dir.path()).replace("/", "%2F").toStdString() +
                            ":5432/postgres";
    const std::string spool = dir.path("line.spool.sqlite");
    const std::string socket = dir.path(".s.PGSQL.5432");
    QString error;
    {
        const auto store = open_record_store(url, error, spool);
        ASSERT_NE(store, nullptr) << error.toStdString();
        QSignalSpy changed(store.get(), &RecordStore::statusChanged);
        EXPECT_TRUE(store->write(record_of("A1", new_record_key())));
        EXPECT_TRUE(store->write(record_of("A2", new_record_key())));
        EXPECT_GE(changed.count(), 2);
        store->drain();
        const RecordsStatus status = store->status().value();
        EXPECT_EQ(status.waiting, 2);
        EXPECT_NE(status.problem.toStdString().find(socket), std::string::npos)
            << status.problem.toStdString();
        EXPECT_FALSE(store->readAll());
        EXPECT_NE(store->error().toStdString().find(url + ": "), std::string::npos)
            << store->error().toStdString();
        EXPECT_NE(store->error().toStdString().find(socket), std::string::npos)
            << store->error().toStdString();
    }
    const auto again = open_record_store(url, error, spool);
    ASSERT_NE(again, nullptr) << error.toStdString();
    again->drain();
    EXPECT_EQ(again->status().value().waiting, 2);

    EXPECT_EQ(open_record_store(url, error, dir.path("none/line.spool.sqlite")), nullptr);
    EXPECT_TRUE(error.startsWith(QString::fromStdString(dir.path("none/line.spool.sqlite: "))))
        << error.toStdString();
    EXPECT_EQ(open_record_store("postgresql://kestrin@localhost/x?a=b", error, spool), nullptr);
    EXPECT_EQ(error, "postgresql://kestrin@localhost/x?a=b: unknown parameter 'a' (the parameters are sslmode, "
                     "sslrootcert, sslcert, sslkey, sslcrl, connect_timeout, application_name)");
}
