#include "engine/jet/jetimport.h"

#include "engine/sqlite/connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

std::span<const FieldDef> fieldsOf(JetImportTable table)
{
    if (table == JetImportTable::Products)
        return syohinFields;
    return torihikiFields;
}

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

// The insert statement of one table: every field, in canonical order.
QByteArray insertSql(JetImportTable table)
{
    QByteArray names;
    QByteArray marks;
    for (const FieldDef &field : fieldsOf(table)) {
        names += (names.isEmpty() ? "" : ", ") + QByteArray(field.name.data(), field.name.size());
        marks += marks.isEmpty() ? "?" : ", ?";
    }
    const QLatin1StringView name = jetImportTableName(table);
    return "INSERT INTO " + QByteArray(name.data(), name.size()) + " (" + names + ") VALUES (" + marks + ")";
}

// An open SQLite file that is closed, and removed unless kept, whatever happens.
class NewFile final
{
public:
    explicit NewFile(QString path) : m_path(std::move(path)) {}
    ~NewFile()
    {
        for (sqlite3_stmt *stmt : m_statements)
            sqlite3_finalize(stmt);
        sqlite3_close(m_db);
        if (!m_kept) {
            QFile::remove(m_path);
            QFile::remove(m_path + u"-journal"_s);
        }
    }
    const QString &path() const { return m_path; }
    sqlite3 *&handle() { return m_db; }
    std::array<sqlite3_stmt *, jetImportTableCount> m_statements{};
    // Closes the file; false when SQLite could not.
    bool close()
    {
        for (sqlite3_stmt *&stmt : m_statements) {
            sqlite3_finalize(stmt);
            stmt = nullptr;
        }
        const int rc = sqlite3_close(m_db);
        m_db = nullptr;
        return rc == SQLITE_OK;
    }
    void keep() { m_kept = true; }

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
    bool m_kept = false;
};

} // namespace

QLatin1StringView jetImportTableName(JetImportTable table)
{
    return table == JetImportTable::Products ? Table::syohin : Table::torihiki;
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

Status JetImport::makePlan(const Progress &progress)
{
    return run(nullptr, progress);
}

Status JetImport::store(const QString &target, const Progress &progress)
{
    return run(&target, progress);
}

Status JetImport::run(const QString *target, const Progress &progress)
{
    const QString shown = QDir::toNativeSeparators(m_fileName);
    if (!m_read) {
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
    }

    std::unique_ptr<NewFile> file;
    if (target) {
        if (QFileInfo::exists(*target) || QFileInfo(*target).isSymLink())
            return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, *target, Reason::exists);
        const QString temporary = temporaryName(*target);
        if (const Status created = createCatalogueFile(temporary); !created)
            return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, *target, created.message());
        file = std::make_unique<NewFile>(temporary);
        int rc = sqlite3_open_v2(QFile::encodeName(temporary).constData(), &file->handle(), SQLITE_OPEN_READWRITE, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(file->handle(), "BEGIN", nullptr, nullptr, nullptr);
        for (int t = 0; rc == SQLITE_OK && t < jetImportTableCount; ++t)
            rc = sqlite3_prepare_v2(file->handle(), insertSql(JetImportTable(t)).constData(), -1, &file->m_statements[std::size_t(t)], nullptr);
        if (rc != SQLITE_OK)
            return sqliteFailure(rc, ErrorCode::WriteFailed, Failed::writingFile, *target);
    }

    JetImportPlan plan;
    plan.version = m_catalogue.version();
    plan.ignored = m_catalogue.ignored();
    const qint64 total = m_catalogue.rowCount(Table::syohin) + m_catalogue.rowCount(Table::torihiki);
    qint64 done = 0;
    bool cancelled = false;
    int rc = SQLITE_OK;
    for (int t = 0; t < jetImportTableCount; ++t) {
        const auto table = JetImportTable(t);
        const std::span<const FieldDef> fields = fieldsOf(table);
        sqlite3_stmt *insert = file ? file->m_statements[std::size_t(t)] : nullptr;
        std::vector<std::optional<std::int64_t>> numbers(fields.size());
        QList<JetValueError> errors;
        const bool readBack = m_catalogue.forEachRow(jetImportTableName(table), [&](const JetTextRow &row) {
            ++plan.rows[std::size_t(t)];
            if (progress && (++done & 1023) == 1 && !progress(total + done, 2 * total)) {
                cancelled = true;
                return false;
            }
            // Text of a Text column in a number field is converted as typed text is.
            errors = row.errors;
            for (std::size_t f = 0; f < fields.size(); ++f) {
                const QString &text = row.values.at(qsizetype(f));
                numbers[f].reset();
                if (fields[f].kind == Kind::Text || row.isNull.at(qsizetype(f)) || text.trimmed().isEmpty())
                    continue;
                if (std::any_of(errors.cbegin(), errors.cend(), [&](const JetValueError &e) { return e.field == fields[f].name; }))
                    continue;
                if (fields[f].kind == Kind::SmallInt) {
                    if (const auto number = parseSmallInt(text))
                        numbers[f] = *number;
                    else
                        errors << JetValueError{QString(fields[f].name), text, u"-32768 から 32767 までの整数ではありません"_s};
                } else if (const auto number = Currency::parse(text)) {
                    numbers[f] = number->units();
                } else {
                    errors << JetValueError{QString(fields[f].name), text, u"数値として読めません"_s};
                }
            }
            if (!errors.isEmpty()) {
                ++plan.errorRows;
                for (const JetValueError &error : errors) {
                    if (++plan.errorCount <= listedErrors)
                        plan.errors << JetImportError{table, row.row, error.field, error.value, error.reason};
                }
                return true;
            }
            ++plan.added[std::size_t(t)];
            if (plan.firstRows[std::size_t(t)].size() < previewRows)
                plan.firstRows[std::size_t(t)] << (QStringList{QString::number(row.row)} + row.values);
            if (!insert)
                return true;
            for (std::size_t f = 0; f < fields.size(); ++f) {
                const int position = int(f) + 1;
                if (fields[f].kind != Kind::Text) {
                    // Blank text in a number field is no value, as in registration.
                    rc = numbers[f] ? sqlite3_bind_int64(insert, position, *numbers[f]) : sqlite3_bind_null(insert, position);
                } else if (row.isNull.at(qsizetype(f))) {
                    rc = sqlite3_bind_null(insert, position);
                } else {
                    const QByteArray utf8 = row.values.at(qsizetype(f)).toUtf8();
                    rc = sqlite3_bind_text64(insert, position, utf8.constData(), sqlite3_uint64(utf8.size()),
                                             SQLITE_TRANSIENT, SQLITE_UTF8);
                }
                if (rc != SQLITE_OK)
                    return false;
            }
            rc = sqlite3_step(insert);
            if (rc != SQLITE_DONE)
                return false;
            rc = sqlite3_reset(insert);
            return rc == SQLITE_OK;
        });
        if (cancelled)
            return Status(ErrorCode::Cancelled, {});
        if (rc != SQLITE_OK)
            return sqliteFailure(rc, ErrorCode::WriteFailed, Failed::writingFile, *target);
        if (!readBack)
            return Status(ErrorCode::ReadFailed, m_catalogue.reader().errorString().isEmpty()
                                                     ? u"「%1」を読み込めませんでした。"_s.arg(shown)
                                                     : m_catalogue.reader().errorString());
    }
    m_plan = std::move(plan);
    if (!file)
        return {};
    rc = sqlite3_exec(file->handle(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return sqliteFailure(rc, ErrorCode::WriteFailed, Failed::writingFile, *target);
    if (!file->close())
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, *target);
    const Status moved = moveIntoPlace(file->path(), *target);
    if (moved)
        file->keep();
    return moved;
}

} // namespace Merchalog
