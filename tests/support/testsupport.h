#pragma once

#include "engine/kinds/number.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>


struct sqlite3;

namespace Merchalog {
class RecordSource;
}

namespace Merchalog::Test {

// A fresh temporary folder that is the working folder, holding an empty catalogue
// database.mdb that is the current catalogue (by that relative name, as at a real start). The
// destructor puts the working folder and catalogue back.
class CatalogueFolder
{
public:
    CatalogueFolder();
    ~CatalogueFolder();
    CatalogueFolder(const CatalogueFolder &) = delete;
    CatalogueFolder &operator=(const CatalogueFolder &) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    // The absolute path of database.mdb.
    const QString &catalogue() const { return m_catalogue; }
    // Makes another empty catalogue in the folder; empty on failure.
    QString makeCatalogue(const QString &name) const;

private:
    QTemporaryDir m_dir;
    QString m_previousCurrent;
    QString m_catalogue;
    bool m_valid = false;
};

// Creates a fresh, empty catalogue file at path; fails the calling test on error.
bool makeCatalogue(const QString &path);

// Runs SQL directly on a catalogue file (for seeding and checking), outside the program's
// record sources. Returns false and prints SQLite's message on failure.
bool execSql(const QString &path, const QString &sql);
// Returns the rows of a query on a file, each column as a QVariant (integers as qint64).
QList<QVariantList> querySql(const QString &path, const QString &sql);

// The SQLite handle of the catalogue file a record source last opened (null before).
sqlite3 *handleOf(const RecordSource &source);

// Inserts a product; numbers are given in whole or decimal text and stored as ten-thousandths.
// Empty text for a number stores NULL.
struct Product
{
    QString mei;
    QString master = QStringLiteral("100");
    QString sale = QStringLiteral("90");
    QString genka = QStringLiteral("70");
    QString jan = QStringLiteral("4901234567894");
    QString eos = QStringLiteral("1001");
    QString eostani = QStringLiteral("12");
    QString torihiki = QStringLiteral("テスト商事");
    QString torihikicode = QStringLiteral("120");
    QString bumon = QStringLiteral("3");
    QString bumonAU = QStringLiteral("1");
};
bool insertProduct(const QString &path, const Product &product);

struct Supplier
{
    QString mei;
    QString add;
    QString tel;
    QString code;
    QString post;
};
bool insertSupplier(const QString &path, const Supplier &supplier);

// The product names a list holds, in list order.
QStringList listedNames(const RecordSource *source);

// Files read and written whole; readFile gives a null array for a missing file.
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

// Rows read back from a catalogue file, in file order. Numbers are ten-thousandths.
QList<QVariantList> productsIn(const QString &path); // every column, canonical order
QList<QVariantList> suppliersIn(const QString &path); // name, address, telephone, code, postal code
QVariantList supplierRow(const QString &mei, const QString &add, const QString &tel, qint64 codeUnits,
                         const QString &post);
// The first column of the first row of a query (null when there is none).
QVariant sqlValue(const QString &path, const QString &sql);
constexpr qint64 units(qint64 whole) { return whole * Currency::unitsPerOne; }

// Every file and folder under a folder, by relative path, with each file's bytes: equal
// states mean no file appeared, went or changed (journals and temporary files included).
QMap<QString, QByteArray> folderState(const QString &folder);

// Rebuilds the product table of a catalogue with its columns in another order, rows kept.
bool shuffleProductColumns(const QString &path);

} // namespace Merchalog::Test
