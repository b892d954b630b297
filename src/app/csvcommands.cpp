#include "app/csvcommands.h"

#include "engine/sqlite/connection.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "engine/csv/csvimport.h"
#include "engine/files/csvwriter.h"
#include "engine/statements/searchtext.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>

#include <optional>

using namespace Qt::StringLiterals;

namespace Merchalog::CommandLine {

namespace {

constexpr int failed = 1;
constexpr int usageError = 2;
constexpr int rowsRefused = 3;

// A command's arguments: two file names, then options with a value ("--name value" or
// "--name=value") and flags.
struct Arguments
{
    QStringList files;
    QHash<QString, QString> values;
    QStringList flags;
    QString error;
};

Arguments readArguments(const QStringList &arguments, const QStringList &valueOptions, const QStringList &flagOptions)
{
    Arguments read;
    for (qsizetype i = 0; i < arguments.size() && read.error.isEmpty(); ++i) {
        const QString &argument = arguments.at(i);
        if (!argument.startsWith(u"--") || argument.size() == 2) {
            read.files << argument;
            continue;
        }
        const qsizetype equals = argument.indexOf(u'=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        if (flagOptions.contains(name) && equals < 0) {
            read.flags << name;
        } else if (!valueOptions.contains(name)) {
            read.error = u"「%1」というオプションはありません。"_s.arg(argument);
        } else if (read.values.contains(name)) {
            read.error = u"--%1 が二度あります。"_s.arg(name);
        } else if (equals >= 0) {
            read.values.insert(name, argument.mid(equals + 1));
        } else if (i + 1 < arguments.size()) {
            read.values.insert(name, arguments.at(++i));
        } else {
            read.error = u"--%1 の値がありません。"_s.arg(name);
        }
    }
    if (read.error.isEmpty() && read.files.size() != 2)
        read.error = u"カタログと CSV ファイルを一つずつ指定してください。"_s;
    return read;
}

int usage(QTextStream &err, const QString &reason)
{
    err << "merchalog: " << reason << u"（使い方は merchalog --help で表示します）"_s << '\n';
    return usageError;
}

int failure(QTextStream &err, const QString &reason)
{
    // One line, whatever the reason holds.
    QString line = reason;
    line.replace(u'\n', u' ');
    err << "merchalog: " << line << '\n';
    return failed;
}

// The catalogue named on the command line, made absolute; an empty string after saying why
// it is not a catalogue.
QString catalogueArgument(const QString &name, QTextStream &err)
{
    const QString path = QFileInfo(name).absoluteFilePath();
    if (const Status checked = Connection::check(path); !checked) {
        failure(err, checked.message());
        return {};
    }
    return path;
}

} // namespace

int importCsv(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const Arguments read = readArguments(arguments, {u"table"_s, u"duplicates"_s, u"errors"_s}, {u"dry-run"_s});
    if (!read.error.isEmpty())
        return usage(err, read.error);
    const QString table = read.values.value(u"table"_s);
    if (table != u"syohin" && table != u"torihiki")
        return usage(err, u"--table には syohin（商品）か torihiki（取引先）を指定してください。"_s);
    const QHash<QString, DuplicateChoice> choices{
        {u"skip"_s, DuplicateChoice::Skip}, {u"update"_s, DuplicateChoice::Update}, {u"add"_s, DuplicateChoice::Add}};
    const QString duplicates = read.values.value(u"duplicates"_s, u"skip"_s);
    if (!choices.contains(duplicates))
        return usage(err, u"--duplicates には skip、update、add のどれかを指定してください。"_s);

    const QString catalogue = catalogueArgument(read.files.at(0), err);
    if (catalogue.isEmpty())
        return failed;
    const bool dryRun = read.flags.contains(u"dry-run"_s);
    CsvImport import(catalogue, read.files.at(1), table == u"syohin" ? ImportTable::Products : ImportTable::Suppliers,
                     choices.value(duplicates));
    if (const Status done = dryRun ? import.makePlan() : import.store(); !done)
        return failure(err, done.message());

    const ImportPlan &plan = import.plan();
    out << (dryRun ? u"取り込まずに確認しました"_s : u"取り込みました"_s)
        << u": 追加 %1件、更新 %2件、スキップ %3件、エラー %4件（%5）"_s.arg(plan.count(RowOutcome::Added))
               .arg(plan.count(RowOutcome::Updated))
               .arg(plan.count(RowOutcome::Skipped))
               .arg(plan.count(RowOutcome::Error))
               .arg(encodingName(plan.encoding))
        << '\n';
    if (read.values.contains(u"errors"_s)) {
        const QString errors = QFileInfo(read.values.value(u"errors"_s)).absoluteFilePath();
        if (const Status saved = import.saveErrorRows(errors); !saved)
            return failure(err, saved.message());
    }
    if (plan.count(RowOutcome::Error) == 0)
        return 0;
    const ImportError &first = plan.errors.constFirst();
    failure(err, u"%1行にエラーがあるため、その行は%2（最初のエラー: %3行目 %4「%5」: %6）"_s
                     .arg(plan.count(RowOutcome::Error))
                     .arg(dryRun ? u"取り込めません"_s : u"取り込んでいません"_s)
                     .arg(first.row)
                     .arg(first.field, first.value, first.reason));
    return rowsRefused;
}

int exportCsv(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const Arguments read = readArguments(arguments, {u"department"_s, u"key-mode"_s, u"key"_s}, {});
    if (!read.error.isEmpty())
        return usage(err, read.error);
    const QHash<QString, SearchMode> modes{{u"name"_s, SearchMode::Name},   {u"supplier"_s, SearchMode::Supplier},
                                           {u"price"_s, SearchMode::Price}, {u"eos"_s, SearchMode::Eos},
                                           {u"jan"_s, SearchMode::Jan}};
    const QString modeName = read.values.value(u"key-mode"_s, u"name"_s);
    if (!modes.contains(modeName))
        return usage(err, u"--key-mode には name、supplier、price、eos、jan のどれかを指定してください。"_s);
    if (read.values.contains(u"key-mode"_s) && !read.values.contains(u"key"_s))
        return usage(err, u"--key-mode には --key で検索する値を添えてください。"_s);

    // The main window's search with these two entries; without either, every listed product.
    const SearchMode mode = modes.value(modeName);
    const QString department = read.values.value(u"department"_s);
    const QString key = read.values.value(u"key"_s);
    std::optional<QString> text = QString(SqlText::allProducts);
    if (!department.isEmpty() || !key.isEmpty()) {
        text = productSearchText(mode, department, key);
        if (!text)
            return usage(err, searchInputProblem(mode, department, key));
    }

    const QString catalogue = catalogueArgument(read.files.at(0), err);
    if (catalogue.isEmpty())
        return failed;
    RecordSource list;
    list.setDatabaseName(catalogue);
    list.setRecordSource(*text);
    if (const Status listed = list.refresh(); !listed)
        return failure(err, listed.message());
    const QString target = QFileInfo(read.files.at(1)).absoluteFilePath();
    const auto result = exportProductCsv(list, target);
    if (!result)
        return failure(err, result.status().message());
    out << u"%1件を書き出しました。"_s.arg(result->rows);
    if (result->replacedCharacters > 0)
        out << u"Shift_JISで表せない文字 %1 文字を、近い文字または「?」に置き換えました。"_s.arg(result->replacedCharacters);
    out << '\n';
    return 0;
}

} // namespace Merchalog::CommandLine
