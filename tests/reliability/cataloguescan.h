#pragma once

// Seeds catalogues with the crash driver's rows and reads them back, straight through
// SQLite, to tell whole rows from damaged ones.

#include "engine/kinds/schema.h"
#include "crashrows.h"

#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

namespace Merchalog::Crash {

class Database
{
public:
    // Opens read-write, as the program does, so a journal left by a killed writer is rolled
    // back before anything is read.
    explicit Database(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
            sqlite3_close(m_db);
            m_db = nullptr;
        } else {
            sqlite3_busy_timeout(m_db, 5000);
        }
    }
    ~Database() { sqlite3_close(m_db); }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    bool isOpen() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }
    QString error() const { return m_error; }

    bool exec(const char *sql)
    {
        char *message = nullptr;
        const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
        if (rc != SQLITE_OK)
            m_error = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        return rc == SQLITE_OK;
    }

    // Every line integrity_check reports; {"ok"} for a sound file.
    QStringList integrityCheck()
    {
        QStringList lines;
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK)
            return {u"cannot check: "_s + QString::fromUtf8(sqlite3_errmsg(m_db))};
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            lines << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        if (rc != SQLITE_DONE)
            lines << u"check failed: "_s + QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(stmt);
        return lines;
    }

private:
    sqlite3 *m_db = nullptr;
    QString m_error;
};

inline int bindStored(sqlite3_stmt *stmt, int position, Kind kind, const QString &text)
{
    const QVariant value = storedValue(kind, text);
    if (value.isNull())
        return sqlite3_bind_null(stmt, position);
    if (kind != Kind::Text)
        return sqlite3_bind_int64(stmt, position, value.toLongLong());
    const QByteArray utf8 = text.toUtf8();
    return sqlite3_bind_text(stmt, position, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// Inserts products first..first+count-1 at version 0 in one transaction.
inline bool seedProducts(const QString &path, qint64 first, qint64 count, int nameSize)
{
    Database db(path);
    if (!db.isOpen() || !db.exec("BEGIN"))
        return false;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db.handle(),
                           "INSERT INTO syohin (syohin_mei, syohin_master, syohin_sale, syohin_genka, syohin_JAN, "
                           "syohin_EOS, syohin_EOStani, syohin_torihiki, syohin_torihikicode, bumon_code, bumon_AU) "
                           "VALUES (?,?,?,?,?,?,?,?,?,?,?)",
                           -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    bool ok = true;
    for (qint64 key = first; ok && key < first + count; ++key) {
        const QStringList texts = productTexts(key, 0, nameSize);
        for (std::size_t i = 0; i < syohinFields.size(); ++i)
            bindStored(stmt, int(i) + 1, syohinFields[i].kind, texts.at(qsizetype(i)));
        ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    return ok && db.exec("COMMIT");
}

// What a scan found: each whole row by key (with its version), and every fault.
struct Scan
{
    QStringList integrity;
    QHash<qint64, int> versions;
    QStringList damage;
    qint64 rows = 0;

    bool sound() const { return integrity == QStringList{u"ok"_s} && damage.isEmpty(); }
    QString report() const
    {
        QStringList lines = integrity;
        lines += damage.mid(0, 10);
        if (damage.size() > 10)
            lines << u"... %1 faults in all"_s.arg(damage.size());
        return lines.join(u"; "_s);
    }
};

inline QVariant columnVariant(sqlite3_stmt *stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
        return {};
    case SQLITE_INTEGER:
        return QVariant::fromValue<qint64>(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, column);
    default:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)),
                                 sqlite3_column_bytes(stmt, column));
    }
}

// Reads every row of a table written by the crash driver and checks each field against the
// row its name announces. A table is "syohin" or "torihiki".
inline Scan scanTable(const QString &path, bool products)
{
    Scan scan;
    Database db(path);
    if (!db.isOpen()) {
        scan.integrity << u"cannot open: "_s + db.error();
        return scan;
    }
    scan.integrity = db.integrityCheck();
    const char *sql = products
        ? "SELECT rowid, syohin_mei, syohin_master, syohin_sale, syohin_genka, syohin_JAN, syohin_EOS, "
          "syohin_EOStani, syohin_torihiki, syohin_torihikicode, bumon_code, bumon_AU FROM syohin"
        : "SELECT rowid, torihiki_mei, torihiki_add, torihiki_tel, torihiki_code, torihiki_post FROM torihiki";
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
        scan.damage << u"cannot read: "_s + QString::fromUtf8(sqlite3_errmsg(db.handle()));
        return scan;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ++scan.rows;
        const qint64 rowid = sqlite3_column_int64(stmt, 0);
        const QVariant name = columnVariant(stmt, 1);
        const auto header = parseName(name.toString());
        if (!header) {
            scan.damage << u"row %1: name without a key (%2)"_s.arg(rowid).arg(name.toString().left(30));
            continue;
        }
        const QStringList texts = products ? productTexts(header->key, header->version, header->nameSize)
                                           : supplierTexts(header->key, header->nameSize);
        const qsizetype fields = products ? qsizetype(syohinFields.size()) : qsizetype(torihikiFields.size());
        for (qsizetype i = 0; i < fields; ++i) {
            const Kind kind = products ? syohinFields[std::size_t(i)].kind : torihikiFields[std::size_t(i)].kind;
            const QVariant expected = storedValue(kind, texts.at(i));
            const QVariant actual = columnVariant(stmt, int(i) + 1);
            const bool same = kind == Kind::Text ? actual.toString() == expected.toString()
                                                 : actual.typeId() == QMetaType::LongLong
                                                       && actual.toLongLong() == expected.toLongLong();
            if (!same) {
                scan.damage << u"key %1 row %2: field %3 holds %4"_s.arg(header->key).arg(rowid).arg(i + 1).arg(
                    actual.toString().left(30));
                break;
            }
        }
        if (scan.versions.contains(header->key))
            scan.damage << u"key %1 stored twice"_s.arg(header->key);
        scan.versions.insert(header->key, header->version);
    }
    if (rc != SQLITE_DONE)
        scan.damage << u"reading stopped: "_s + QString::fromUtf8(sqlite3_errmsg(db.handle()));
    sqlite3_finalize(stmt);
    return scan;
}

} // namespace Merchalog::Crash
