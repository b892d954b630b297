// Writes a catalogue the way the windows do, one step after another, and says on standard
// output what has been stored each time a write returns. The crash tests kill it at random
// moments and then check the file against what it said.
//
//   crashdriver products  FILE FIRST COUNT   register products FIRST.. through the append path
//   crashdriver suppliers FILE FIRST COUNT   register suppliers, with the duplicate check first
//   crashdriver delete    FILE FIRST COUNT   find each product by JAN and remove it
//   crashdriver edit      FILE VERSION       overwrite products in the list, stored on leaving
//
// Options: --name-size N (filler of names), --busy-timeout MS, --unsafe (no journal, no
// synchronisation: for showing that the checks notice damage).
//
// Lines written: "ready", "begin KEY" (a write starts), "ok KEY ROWID", "deleted KEY", "gone KEY", "edited KEY VERSION",
// "duplicate KEY", "fail KEY ERROR MESSAGE", "done".

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

#include <cstdio>

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
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

void sayFailure(qint64 key, const Status &status)
{
    QString message = status.message();
    message.replace(u'\n', u' ');
    say(u"fail %1 %2 %3"_s.arg(key).arg(int(status.code())).arg(message));
}

void sayFailure(qint64 key, const RecordSource &source)
{
    sayFailure(key, source.status());
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
        sayFailure(0, source);
        return false;
    }
    say(u"ready"_s);
    return true;
}

// Appends a record as the registration windows do, every field as entry text in canonical
// order; the new record becomes current.
template<std::size_t N>
bool append(RecordSource &source, QLatin1StringView table, const std::array<FieldDef, N> &fields,
            const QStringList &texts, qint64 key)
{
    std::array<FieldValue, N> values;
    for (std::size_t i = 0; i < N; ++i)
        values[i] = {fields[i].name, texts.at(qsizetype(i))};
    say(u"begin %1"_s.arg(key));
    if (const Status appended = appendRecord(source, table, values); !appended) {
        sayFailure(key, appended);
        return false;
    }
    say(u"ok %1 %2"_s.arg(key).arg(source.bookmark()));
    return true;
}

int registerProducts(qint64 first, qint64 count, const Options &options)
{
    RecordSource source;
    if (!openSource(source, QString(Table::syohin), options, false))
        return 2;
    int failures = 0;
    for (qint64 key = first; key < first + count; ++key) {
        if (!append(source, Table::syohin, syohinFields, Crash::productTexts(key, 0, options.nameSize), key))
            ++failures;
    }
    say(u"done"_s);
    return failures ? 1 : 0;
}

int registerSuppliers(qint64 first, qint64 count, const Options &options)
{
    RecordSource source;
    if (!openSource(source, QString(Table::torihiki), options, false))
        return 2;
    int failures = 0;
    for (qint64 key = first; key < first + count; ++key) {
        const auto check = SqlText::supplierByCodeAsTyped(QString::number(key));
        source.setRecordSource(*check);
        if (!source.refresh()) {
            sayFailure(key, source);
            ++failures;
            continue;
        }
        if (source.recordCount() != 0) {
            say(u"duplicate %1"_s.arg(key));
            continue;
        }
        if (!append(source, Table::torihiki, torihikiFields, Crash::supplierTexts(key, options.nameSize), key))
            ++failures;
    }
    say(u"done"_s);
    return failures ? 1 : 0;
}

int deleteProducts(qint64 first, qint64 count, const Options &options)
{
    RecordSource source;
    if (!openSource(source, QString(SqlText::emptyProductView), options))
        return 2;
    int failures = 0;
    for (qint64 key = first; key < first + count; ++key) {
        // The user searches by JAN, the product becomes current, and the menu entry removes it.
        source.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and syohin_JAN like %1"_s
                                   .arg(4900000000000LL + key));
        if (!source.refresh()) {
            sayFailure(key, source);
            ++failures;
            continue;
        }
        if (source.recordCount() == 0) {
            say(u"gone %1"_s.arg(key));
            continue;
        }
        say(u"begin %1"_s.arg(key));
        if (!source.removeCurrentRecord()) {
            sayFailure(key, source);
            ++failures;
            continue;
        }
        say(u"deleted %1"_s.arg(key));
    }
    say(u"done"_s);
    return failures ? 1 : 0;
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
            sayFailure(pendingKey, source);
            return 1;
        }
        reportStored();
        const auto header = Crash::parseName(source.row(row).value(nameColumn).toString());
        if (!header || header->version >= version)
            continue;
        const QStringList texts = Crash::productTexts(header->key, version, header->nameSize);
        for (int field : Crash::editedProductFields) {
            if (!source.setText(QString(syohinFields[std::size_t(field)].name), texts.at(field))) {
                sayFailure(header->key, source);
                return 1;
            }
        }
        pendingKey = header->key;
    }
    if (pendingKey)
        say(u"begin %1"_s.arg(pendingKey));
    if (!source.storePending()) {
        sayFailure(pendingKey, source);
        return 1;
    }
    reportStored();
    say(u"done"_s);
    return 0;
}

int usage(std::FILE *to = stderr)
{
    std::fputs("usage: crashdriver products|suppliers|delete FILE FIRST COUNT [options]\n"
               "       crashdriver edit FILE VERSION [options]\n"
               "options: --name-size N  --busy-timeout MS  --unsafe\n"
               "FILE is an existing catalogue; the driver writes into it and creates nothing.\n",
               to);
    return to == stderr ? 64 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    Options options;
    for (qsizetype i = 0; i < args.size();) {
        const QString arg = args.at(i);
        if (arg == u"--unsafe"_s) {
            options.unsafe = true;
            args.removeAt(i);
        } else if ((arg == u"--name-size"_s || arg == u"--busy-timeout"_s) && i + 1 < args.size()) {
            (arg == u"--name-size"_s ? options.nameSize : options.busyTimeout) = args.at(i + 1).toInt();
            args.remove(i, 2);
        } else if (arg == u"--help"_s || arg == u"-h"_s) {
            return usage(stdout);
        } else if (arg.startsWith(u"--"_s)) {
            return usage();
        } else {
            ++i;
        }
    }
    if (args.size() < 3)
        return usage();

    const QString mode = args.at(0);
    const QString file = args.at(1);
    CurrentCatalogue::instance().setDatabaseName(file);
    if (mode == u"edit"_s)
        return editProducts(args.at(2).toInt(), options);
    if (args.size() < 4)
        return usage();
    const qint64 first = args.at(2).toLongLong();
    const qint64 count = args.at(3).toLongLong();
    if (mode == u"products"_s)
        return registerProducts(first, count, options);
    if (mode == u"suppliers"_s)
        return registerSuppliers(first, count, options);
    if (mode == u"delete"_s)
        return deleteProducts(first, count, options);
    return usage();
}
