#include "testsupport.h"

#include "engine/kinds/schema.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "engine/sqlite/sqlitestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <sqlite3.h>

namespace Merchalog::Test {

bool makeCatalogue(const QString &path)
{
    if (const Status created = createCatalogueFile(path); !created) {
        qWarning("makeCatalogue(%s): %s", qPrintable(path), qPrintable(created.message()));
        return false;
    }
    return true;
}

namespace {

struct Db
{
    sqlite3 *db = nullptr;
    explicit Db(const QString &path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            qWarning("cannot open %s: %s", qPrintable(path), sqlite3_errmsg(db));
            sqlite3_close(db);
            db = nullptr;
        } else {
            sqlite3_busy_timeout(db, 5000);
        }
    }
    ~Db() { sqlite3_close(db); }
};

QVariant numberValue(const QString &text)
{
    if (text.isEmpty())
        return {};
    const auto value = Currency::parse(text);
    if (!value) {
        qWarning("not a number: %s", qPrintable(text));
        return {};
    }
    return QVariant::fromValue<qint64>(value->units());
}

// Runs one statement with its parameters bound (integers as integers, null as NULL), or
// several without; gives the rows of the last, each column as a QVariant.
QList<QVariantList> run(const QString &path, const QString &sql, const QVariantList &params, bool *ok)
{
    QList<QVariantList> rows;
    *ok = false;
    Db db(path);
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const char *tail = utf8.constData();
    while (db.db && *tail) {
        sqlite3_finalize(stmt);
        if (sqlite3_prepare_v2(db.db, tail, -1, &stmt, &tail) != SQLITE_OK) {
            qWarning("prepare failed: %s", sqlite3_errmsg(db.db));
            return rows;
        }
        for (int i = 0; i < params.size(); ++i) {
            const QVariant &p = params.at(i);
            const QByteArray t = p.toString().toUtf8();
            if (p.isNull())
                sqlite3_bind_null(stmt, i + 1);
            else if (p.typeId() == QMetaType::LongLong || p.typeId() == QMetaType::Int)
                sqlite3_bind_int64(stmt, i + 1, p.toLongLong());
            else
                sqlite3_bind_text(stmt, i + 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        }
        rows.clear();
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            QVariantList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const int type = sqlite3_column_type(stmt, c);
                row << (type == SQLITE_NULL      ? QVariant()
                        : type == SQLITE_INTEGER ? QVariant::fromValue<qint64>(sqlite3_column_int64(stmt, c))
                        : type == SQLITE_FLOAT   ? QVariant(sqlite3_column_double(stmt, c))
                                                 : QVariant(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)),
                                                                              sqlite3_column_bytes(stmt, c))));
            }
            rows << row;
        }
        if (rc != SQLITE_DONE && stmt) {
            qWarning("step failed: %s", sqlite3_errmsg(db.db));
            sqlite3_finalize(stmt);
            return rows;
        }
    }
    sqlite3_finalize(stmt);
    *ok = db.db != nullptr;
    return rows;
}

bool run(const QString &path, const QString &sql, const QVariantList &params)
{
    bool ok = false;
    run(path, sql, params, &ok);
    return ok;
}

} // namespace

bool execSql(const QString &path, const QString &sql)
{
    return run(path, sql, {});
}

QList<QVariantList> querySql(const QString &path, const QString &sql)
{
    bool ok = false;
    return run(path, sql, {}, &ok);
}

sqlite3 *handleOf(const RecordSource &source)
{
    const auto *store = dynamic_cast<const SqliteStore *>(source.store());
    return store ? store->connection()->handle() : nullptr;
}

bool insertProduct(const QString &path, const Product &p)
{
    const QVariant eostani = p.eostani.isEmpty() ? QVariant() : QVariant::fromValue<qint64>(p.eostani.toLongLong());
    return run(path,
               QStringLiteral("INSERT INTO syohin (syohin_mei, syohin_master, syohin_sale, syohin_genka, syohin_JAN, "
                              "syohin_EOS, syohin_EOStani, syohin_torihiki, syohin_torihikicode, bumon_code, bumon_AU) "
                              "VALUES (?,?,?,?,?,?,?,?,?,?,?)"),
               {p.mei.isNull() ? QVariant() : QVariant(p.mei), numberValue(p.master), numberValue(p.sale),
                numberValue(p.genka), numberValue(p.jan), numberValue(p.eos), eostani,
                p.torihiki.isNull() ? QVariant() : QVariant(p.torihiki), numberValue(p.torihikicode),
                numberValue(p.bumon), numberValue(p.bumonAU)});
}

bool insertSupplier(const QString &path, const Supplier &s)
{
    return run(path,
               QStringLiteral("INSERT INTO torihiki (torihiki_mei, torihiki_add, torihiki_tel, torihiki_code, torihiki_post) "
                              "VALUES (?,?,?,?,?)"),
               {s.mei.isNull() ? QVariant() : QVariant(s.mei), s.add.isNull() ? QVariant() : QVariant(s.add),
                s.tel.isNull() ? QVariant() : QVariant(s.tel), numberValue(s.code),
                s.post.isNull() ? QVariant() : QVariant(s.post)});
}

QStringList listedNames(const RecordSource *source)
{
    QStringList names;
    const int column = source->fieldIndex(Field::syohin_mei);
    for (int row = 0; row < source->rowCount(); ++row)
        names << source->data(source->index(row, column)).toString();
    return names;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QList<QVariantList> productsIn(const QString &path)
{
    return querySql(path, QStringLiteral("select syohin_mei, syohin_master, syohin_sale, syohin_genka, syohin_JAN, "
                                         "syohin_EOS, syohin_EOStani, syohin_torihiki, syohin_torihikicode, "
                                         "bumon_code, bumon_AU from syohin order by rowid"));
}

QList<QVariantList> suppliersIn(const QString &path)
{
    return querySql(path, QStringLiteral("select torihiki_mei, torihiki_add, torihiki_tel, torihiki_code, "
                                         "torihiki_post from torihiki order by rowid"));
}

QVariantList supplierRow(const QString &mei, const QString &add, const QString &tel, qint64 codeUnits,
                         const QString &post)
{
    return {mei, add, tel, QVariant::fromValue(codeUnits), post};
}

QVariant sqlValue(const QString &path, const QString &sql)
{
    return querySql(path, sql).value(0).value(0);
}

QMap<QString, QByteArray> folderState(const QString &folder)
{
    QMap<QString, QByteArray> state;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        state.insert(QDir(folder).relativeFilePath(info.filePath()), info.isDir() ? "<folder>" : readFile(info.filePath()));
    }
    return state;
}

bool shuffleProductColumns(const QString &path)
{
    return execSql(path, QStringLiteral(
        "CREATE TABLE shuffled (bumon_AU CURRENCY, syohin_JAN CURRENCY, syohin_torihiki TEXT, syohin_mei TEXT, "
        "bumon_code CURRENCY, syohin_id INTEGER PRIMARY KEY AUTOINCREMENT, syohin_sale CURRENCY, "
        "syohin_EOStani SMALLINT, syohin_master CURRENCY, syohin_torihikicode CURRENCY, syohin_genka CURRENCY, "
        "syohin_EOS CURRENCY);"
        "INSERT INTO shuffled (rowid, bumon_AU, syohin_JAN, syohin_torihiki, syohin_mei, bumon_code, syohin_sale, "
        "syohin_EOStani, syohin_master, syohin_torihikicode, syohin_genka, syohin_EOS) SELECT rowid, bumon_AU, "
        "syohin_JAN, syohin_torihiki, syohin_mei, bumon_code, syohin_sale, syohin_EOStani, syohin_master, "
        "syohin_torihikicode, syohin_genka, syohin_EOS FROM syohin;"
        "DROP TABLE syohin; ALTER TABLE shuffled RENAME TO syohin;"));
}

CatalogueFolder::CatalogueFolder()
    : m_previousCurrent(QDir::currentPath())
{
    if (!m_dir.isValid())
        return;
    QDir::setCurrent(m_dir.path());
    m_catalogue = m_dir.filePath(QStringLiteral("database.mdb"));
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    m_valid = Test::makeCatalogue(m_catalogue);
}

CatalogueFolder::~CatalogueFolder()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    QDir::setCurrent(m_previousCurrent);
}

QString CatalogueFolder::makeCatalogue(const QString &name) const
{
    const QString path = m_dir.filePath(name);
    return Test::makeCatalogue(path) ? path : QString();
}

} // namespace Merchalog::Test
