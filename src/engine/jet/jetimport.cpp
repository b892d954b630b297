#include "engine/jet/jetimport.h"

#include "engine/server/serverstore.h"
#include "engine/sqlite/connection.h"
#include "engine/sqlite/writeguard.h"

#include <QBuffer>
#include <QSaveFile>
#include <QTemporaryDir>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// A free name for the new catalogue while it is written, hidden beside the target.
QString temporaryName(const QString &target)
{
    const QFileInfo info(target);
    QString name;
    do {
        name = info.dir().filePath(u".%1.%2.tmp"_s.arg(info.fileName())
                                       .arg(QRandomGenerator::global()->generate64(), 0, 36));
    } while (QFileInfo(name).exists() || QFileInfo(name).isSymLink());
    return name;
}

// Gives the finished file the target's name, never replacing a file that appeared there
// meanwhile: a hard link fails when the name is taken.
Status moveIntoPlace(const QString &from, const QString &target)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray destination = QFile::encodeName(target);
    if (::link(source.constData(), destination.constData()) == 0) {
        ::unlink(source.constData());
        return {};
    }
    const int error = errno;
    if (error == EEXIST)
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, target, Reason::exists);
    // A file system without hard links: rename, after looking once more.
    if (!QFileInfo::exists(target) && !QFileInfo(target).isSymLink() && QFile::rename(from, target))
        return {};
    return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, target, QString::fromLocal8Bit(std::strerror(error)));
}

// A table of an Access file as an import's rows: the fields by name in canonical order, each
// row's values as exact text, nulls kept, and the values the reader could not take as the
// row's problems.
class JetTableSource final : public ImportRowSource
{
public:
    JetTableSource(const JetCatalogue &catalogue, ImportTable table, QString fileName)
        : m_catalogue(catalogue)
        , m_name(jetImportTableName(table))
        , m_fields(table == ImportTable::Products ? std::span<const FieldDef>(syohinFields) : std::span<const FieldDef>(torihikiFields))
        , m_fileName(std::move(fileName))
    {
    }

    bool read(const Header &header, const Visit &visit) override
    {
        CsvRecord record;
        for (const FieldDef &field : m_fields)
            record.fields << QString(field.name);
        record.fieldCount = record.fields.size();
        m_position = 0;
        if (!header(record))
            return true;
        SourceRowInfo info;
        const bool read = m_catalogue.forEachRow(m_name, [&](const JetTextRow &row) {
            record.row = row.row;
            record.fields = row.values;
            info.isNull = row.isNull;
            info.problems.clear();
            for (const JetValueError &error : row.errors) {
                int column = -1;
                for (std::size_t f = 0; f < m_fields.size() && !error.field.isEmpty(); ++f) {
                    if (error.field == m_fields[f].name)
                        column = int(f);
                }
                info.problems << SourceProblem{column, error.value, error.reason};
            }
            m_position = row.row;
            return visit(record, info);
        });
        if (!read) {
            const QString reason = m_catalogue.errorString();
            m_error = reason.isEmpty() ? u"「%1」を読み込めませんでした。"_s.arg(QDir::toNativeSeparators(m_fileName)) : reason;
        }
        return read;
    }
    QString errorString() const override { return m_error; }
    qint64 position() const override { return m_position; }
    qint64 size() const override { return m_catalogue.rowCount(m_name); }
    TextEncoding encoding() const override { return TextEncoding::Utf8Bom; }
    bool asStored() const override { return true; }

private:
    const JetCatalogue &m_catalogue;
    QLatin1StringView m_name;
    std::span<const FieldDef> m_fields;
    QString m_fileName;
    qint64 m_position = 0;
    QString m_error;
};

// Removes a catalogue file being written unless it was kept.
class Unfinished final
{
public:
    explicit Unfinished(QString path) : m_path(std::move(path)) {}
    ~Unfinished()
    {
        if (m_kept)
            return;
        QFile::remove(m_path);
        QFile::remove(m_path + u"-journal"_s);
    }
    Unfinished(const Unfinished &) = delete;
    Unfinished &operator=(const Unfinished &) = delete;
    void keep() { m_kept = true; }

private:
    QString m_path;
    bool m_kept = false;
};

} // namespace

QLatin1StringView jetImportTableName(ImportTable table)
{
    return table == ImportTable::Products ? Table::syohin : Table::torihiki;
}
QString defaultImportTarget(const QString &accessFile)
{
    const QFileInfo info(accessFile);
    const QString stem = info.completeBaseName() + u"_取込"_s;
    for (int n = 1;; ++n) {
        const QString name = info.dir().filePath(stem + (n == 1 ? QString() : u" (%1)"_s.arg(n)) + u".mdb"_s);
        if (!QFileInfo::exists(name) && !QFileInfo(name).isSymLink())
            return name;
    }
}

JetImport::JetImport(const QString &fileName)
    : m_fileName(fileName)
    , m_catalogue(fileName)
{
}

Status JetImport::read(const Progress &progress)
{
    if (m_read)
        return {};
    // Reading is the first half of the work.
    const JetReader::Progress reading = [&](qint64 done, qint64 total) {
        return !progress || progress(done, 2 * std::max<qint64>(total, 1));
    };
    if (!m_catalogue.read(progress ? reading : JetReader::Progress())) {
        if (m_catalogue.reader().wasCancelled())
            return Status(ErrorCode::Cancelled, {});
        return Status(ErrorCode::ReadFailed, m_catalogue.errorString());
    }
    m_read = true;
    return {};
}

Status JetImport::stage(const QString &path, const CsvImport::BatchSource &batches, const Progress &progress)
{
    if (!batches) {
        if (const Status created = createCatalogueFile(path); !created)
            return created;
    }
    JetImportPlan plan;
    plan.version = m_catalogue.version();
    plan.ignored = m_catalogue.ignored();
    std::array<QByteArray, 2> errorRows;
    const qint64 total = std::max<qint64>(m_catalogue.rowCount(Table::syohin) + m_catalogue.rowCount(Table::torihiki), 1);
    qint64 before = 0;
    for (const ImportTable table : {ImportTable::Suppliers, ImportTable::Products}) {
        const std::size_t t = std::size_t(table);
        CsvImport import(path, std::make_shared<JetTableSource>(m_catalogue, table, m_fileName), m_fileName, table,
                         DuplicateChoice::Add);
        import.setBatchSource(batches);
        QBuffer errors(&errorRows[t]);
        errors.open(QIODevice::WriteOnly);
        const Status stored = import.store([&](qint64 done, qint64) { return !progress || progress(total + before + done, 2 * total); },
                                           &errors);
        if (!stored)
            return stored;
        plan.tables[t] = import.plan();
        before += m_catalogue.rowCount(jetImportTableName(table));
    }
    m_plan = std::move(plan);
    m_errorRows = std::move(errorRows);
    return {};
}

Status JetImport::makePlan(const Progress &progress)
{
    if (Status read = this->read(progress); !read)
        return read;
    // The plan is an import into a scratch catalogue: products are judged against the
    // suppliers of the same file as storing will judge them.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return Status(ErrorCode::WriteFailed, scratch.errorString());
    return stage(scratch.filePath(u"plan.mdb"_s), {}, progress);
}

Status JetImport::store(const QString &target, const Progress &progress)
{
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, target, Reason::exists);
    if (Status read = this->read(progress); !read)
        return read;
    const QString temporary = temporaryName(target);
    Unfinished file(temporary);
    if (Status staged = stage(temporary, {}, progress); !staged) {
        if (staged.code() == ErrorCode::Cancelled || staged.code() == ErrorCode::ReadFailed)
            return staged;
        return toldOfTarget(staged, temporary, target);
    }
    const Status moved = moveIntoPlace(temporary, target);
    if (moved)
        file.keep();
    return moved;
}

Status JetImport::storeOnServer(const QString &address, bool replace, const Progress &progress)
{
    if (Status read = this->read(progress); !read)
        return read;
    auto build = ServerStore::buildCatalogue(address, replace);
    if (!build)
        return build.status();
    const auto batches = [&](const ImportTarget &target, bool) { return (*build)->beginImport(target); };
    if (Status staged = stage(address, batches, progress); !staged)
        return staged;
    return (*build)->finish();
}

Status JetImport::saveErrorRows(ImportTable table, const QString &fileName) const
{
    if (const QString open = openCatalogueAt(fileName); !open.isEmpty())
        return openCatalogueRefusal(fileName, open);
    QSaveFile file(fileName);
    const QByteArray &rows = m_errorRows[std::size_t(table)];
    if (!file.open(QIODevice::WriteOnly) || file.write(rows) != rows.size() || !file.commit())
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, fileName, file.errorString());
    return {};
}

} // namespace Merchalog
