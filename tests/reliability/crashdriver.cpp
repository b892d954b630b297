// Writes a catalogue the way the windows do, one step after another, and says on standard
// output what has been stored each time a write returns. The crash tests kill it at random
// moments and then check the file against what it said.
//
//   crashdriver products  FILE FIRST COUNT   register products FIRST.. through the append path
//   crashdriver delete    FILE FIRST COUNT   find each product by JAN and remove it
//   crashdriver edit      FILE VERSION       overwrite products in the list, stored on leaving
//
// Options: --name-size N (filler of names), --busy-timeout MS, --unsafe (no journal, no
// synchronisation: for showing that the checks notice damage).
//
// Lines written: "ready", "begin KEY" (a write starts), "ok KEY ROWID", "deleted KEY", "gone KEY", "edited KEY VERSION",
// "fail KEY ERROR MESSAGE", "done".

#include "engine/records/appendrecord.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/sqlitestore.h"
#include "engine/statements/statementtexts.h"
#include "crashrows.h"

#include <QCoreApplication>
#include <QStringList>

#include <sqlite3.h>
#include <unistd.h>


using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {

struct Options
{
    int nameSize = 40;
    int busyTimeout = -1;
    bool unsafe = false;
};

// One line per write call, so a line is either whole in the pipe or missing.
void say(const QString &line)
{
    const QByteArray bytes = (line + u'\n').toUtf8();
    for (qsizetype done = 0, n = 0; done < bytes.size(); done += n) {
        if ((n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done))) <= 0)
            return;
    }
}

void sayFailure(qint64 key, const Status &status)
{
    say(u"fail %1 %2 %3"_s.arg(key).arg(int(status.code())).arg(QString(status.message()).replace(u'\n', u' ')));
}

// Applies the options to the connection the record source opened.
bool prepareConnection(RecordSource &source, const Options &options)
{
    const auto *store = dynamic_cast<const SqliteStore *>(source.store());
    if (!store)
        return false;
    sqlite3 *db = store->connection()->handle();
    // Defensive mode refuses to run without a journal.
    if (options.unsafe
        && (sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr) != SQLITE_OK
            || sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr) != SQLITE_OK))
        return false;
    if (options.busyTimeout >= 0)
        sqlite3_busy_timeout(db, options.busyTimeout);
    return true;
}

// Opens the record source on a record-source text, or on a table without reading its rows.
bool openSource(RecordSource &source, const QString &text, const Options &options, bool selectRows = true)
{
    source.setRecordSource(text);
    if (!(selectRows ? source.refresh() : source.openTable(text)) || !prepareConnection(source, options)) {
        sayFailure(0, source.status());
        return false;
    }
    say(u"ready"_s);
    return true;
}

// Appends a record as the registration windows do, every field as entry text in canonical
// order; the new record becomes current.
template<std::size_t N>
Status append(RecordSource &source, QLatin1StringView table, const std::array<FieldDef, N> &fields,
              const QStringList &texts, qint64 key)
{
    std::array<FieldValue, N> values;
    for (std::size_t i = 0; i < N; ++i)
        values[i] = {fields[i].name, texts.at(qsizetype(i))};
    say(u"begin %1"_s.arg(key));
    const Status appended = appendRecord(source, table, values);
    if (appended)
        say(u"ok %1 %2"_s.arg(key).arg(source.bookmark()));
    return appended;
}

// Runs one step for each key in turn, reporting each failure; 1 when any failed.
template<class Step>
int eachKey(qint64 first, qint64 count, const Step &step)
{
    int failures = 0;
    for (qint64 key = first; key < first + count; ++key) {
        if (const Status status = step(key); !status) {
            sayFailure(key, status);
            ++failures;
        }
    }
    say(u"done"_s);
    return failures ? 1 : 0;
}

int registerProducts(qint64 first, qint64 count, const Options &options)
{
    RecordSource source;
    if (!openSource(source, QString(Table::syohin), options, false))
        return 2;
    return eachKey(first, count, [&](qint64 key) {
        return append(source, Table::syohin, syohinFields, Crash::productTexts(key, 0, options.nameSize), key);
    });
}

// The user searches by JAN, the product becomes current, and the menu entry removes it.
int deleteProducts(qint64 first, qint64 count, const Options &options)
{
    RecordSource source;
    if (!openSource(source, QString(SqlText::emptyProductView), options))
        return 2;
    return eachKey(first, count, [&](qint64 key) {
        source.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and syohin_JAN like %1"_s.arg(4900000000000LL + key));
        if (Status found = source.refresh(); !found || source.recordCount() == 0) {
            if (found)
                say(u"gone %1"_s.arg(key));
            return found;
        }
        say(u"begin %1"_s.arg(key));
        Status removed = source.removeCurrentRecord();
        if (removed)
            say(u"deleted %1"_s.arg(key));
        return removed;
    });
}

int editProducts(int version, const Options &options)
{
    RecordSource source;
    if (!openSource(source, QString(SqlText::allProducts), options))
        return 2;
    qint64 pendingKey = 0;
    auto reportStored = [&] {
        if (pendingKey)
            say(u"edited %1 %2"_s.arg(pendingKey).arg(version));
        pendingKey = 0;
    };
    const int nameColumn = source.fieldIndex(Field::syohin_mei);
    for (int row = 0; row < source.recordCount(); ++row) {
        // Clicking another row stores what was typed into the detail panel for the last one.
        if (pendingKey)
            say(u"begin %1"_s.arg(pendingKey));
        if (!source.setCurrentRow(row)) {
            sayFailure(pendingKey, source.status());
            return 1;
        }
        reportStored();
        const auto header = Crash::parseName(source.row(row).value(nameColumn).toString());
        if (!header || header->version >= version)
            continue;
        const QStringList texts = Crash::productTexts(header->key, version, header->nameSize);
        for (int field : Crash::editedProductFields) {
            if (!source.setText(QString(syohinFields[std::size_t(field)].name), texts.at(field))) {
                sayFailure(header->key, source.status());
                return 1;
            }
        }
        pendingKey = header->key;
    }
    if (pendingKey)
        say(u"begin %1"_s.arg(pendingKey));
    if (!source.storePending()) {
        sayFailure(pendingKey, source.status());
        return 1;
    }
    reportStored();
    say(u"done"_s);
    return 0;
}

} // namespace

// The usage is in the comment at the top; a wrong call exits with 64.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    Options options;
    for (qsizetype i = 0; i < args.size();) {
        if (args.at(i) == u"--unsafe"_s) {
            options.unsafe = true;
            args.removeAt(i);
        } else if (args.at(i).startsWith(u"--"_s) && i + 1 < args.size()) {
            (args.at(i) == u"--name-size"_s ? options.nameSize : options.busyTimeout) = args.at(i + 1).toInt();
            args.remove(i, 2);
        } else {
            ++i;
        }
    }
    const QString mode = args.value(0);
    CurrentCatalogue::instance().setDatabaseName(args.value(1));
    const qint64 first = args.value(2).toLongLong();
    const qint64 count = args.value(3).toLongLong();
    if (mode == u"edit"_s && args.size() == 3)
        return editProducts(int(first), options);
    if (args.size() != 4)
        return 64;
    if (mode == u"products"_s)
        return registerProducts(first, count, options);
    return mode == u"delete"_s ? deleteProducts(first, count, options) : 64;
}
