#include "app/commandline.h"

#include "app/csvcommands.h"
#include "engine/jet/fileformat.h"
#include "engine/jet/jetchild.h"
#include "engine/jet/jetimport.h"
#include "engine/server/cataloguetransfer.h"
#include "engine/server/session.h"
#include "engine/sqlite/cataloguecopy.h"
#include "windows/help/versioninfo.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Merchalog::CommandLine {

namespace {

constexpr int usageError = 2;

QString usage(const QString &reason);

int showHelp(const QStringList &, QTextStream &out, QTextStream &)
{
    out << helpText();
    return 0;
}

int showVersion(const QStringList &, QTextStream &out, QTextStream &)
{
    out << VersionInfo::name << ' ' << VersionInfo::version << '\n'
        << VersionInfo::notice << '\n'
        << VersionInfo::address << '\n';
    return 0;
}

// Asks for a server's password on the terminal, as psql does, without showing what is typed.
std::optional<QString> terminalPassword(const QString &address)
{
    FILE *terminal = std::fopen("/dev/tty", "r+");
    if (!terminal)
        return std::nullopt;
    const QByteArray prompt = u"%1 のパスワード: "_s.arg(address).toLocal8Bit();
    std::fputs(prompt.constData(), terminal);
    std::fflush(terminal);
    termios saved{};
    const bool quiet = tcgetattr(fileno(terminal), &saved) == 0;
    if (quiet) {
        termios hidden = saved;
        hidden.c_lflag &= tcflag_t(~ECHO);
        tcsetattr(fileno(terminal), TCSAFLUSH, &hidden);
    }
    char line[1024];
    const bool read = std::fgets(line, sizeof line, terminal) != nullptr;
    if (quiet)
        tcsetattr(fileno(terminal), TCSAFLUSH, &saved);
    std::fputs("\n", terminal);
    std::fclose(terminal);
    if (!read)
        return std::nullopt;
    QString password = QString::fromLocal8Bit(line);
    while (password.endsWith(u'\n') || password.endsWith(u'\r'))
        password.chop(1);
    std::fill(std::begin(line), std::end(line), '\0');
    return password;
}

// Reads an Access file for the program, which runs it as a child process: see JetChild.
int readJet(const QStringList &arguments, QTextStream &, QTextStream &)
{
    return JetChild::run(arguments.constFirst(), arguments.mid(1), stdout);
}

QString usage(const QString &reason)
{
    return reason + u"（使い方は merchalog --help で表示します）"_s;
}

// Imports the Access file source into a new catalogue: a file target, which must not exist,
// or a server address (its database holding no catalogue unless replace). Lists the rows
// left out on err.
int importAccessCatalogue(const QString &source, const QString &target, bool replace, QTextStream &out, QTextStream &err)
{
    const bool server = Server::isAddress(target);
    if (!server && pathExists(target)) {
        err << "merchalog: " << fileFailure(ErrorCode::WriteFailed, Failed::writingFile, target, Reason::exists).message() << '\n';
        return 1;
    }
    JetImport import(source);
    if (const Status stored = server ? import.storeOnServer(target, replace) : import.store(target); !stored) {
        err << "merchalog: " << stored.message() << '\n';
        return 1;
    }
    const JetImportPlan &plan = import.plan();
    for (const ImportTable table : {ImportTable::Suppliers, ImportTable::Products}) {
        const ImportPlan &rows = plan.of(table);
        for (const ImportError &error : rows.errors) {
            err << jetImportTableName(table) << ' ' << u"%1 行目"_s.arg(error.row);
            if (!error.field.isEmpty())
                err << ' ' << error.field << u"「%1」"_s.arg(error.value.left(100));
            err << u": "_s << error.reason << '\n';
        }
        if (rows.errorCount > rows.errors.size())
            err << u"ほかに %1 件の理由があります。"_s.arg(rows.errorCount - rows.errors.size()) << '\n';
    }
    out << u"商品 %1 件、取引先 %2 件を取り込みました。エラーのため取り込まなかった行: %3 行。"_s
               .arg(plan.added(ImportTable::Products)).arg(plan.added(ImportTable::Suppliers)).arg(plan.errorRows()) << '\n';
    return 0;
}

// Copies a whole catalogue; each side is a file or a server address. An Access file (Jet 3
// or 4) as the source is imported instead, row by row: straight into a new file or a server,
// or into a temporary file first when a file is to be replaced.
int copyCatalogue(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QStringList sides = arguments;
    const bool replace = sides.removeAll(u"--replace"_s) > 0;
    if (sides.size() != 2) {
        err << "merchalog: " << usage(u"copy にはコピー元とコピー先を一つずつ指定してください。"_s) << '\n';
        return usageError;
    }
    QString source = sides.at(0);
    const QString &destination = sides.at(1);
    Server::setPasswordPrompt(terminalPassword);
    QTemporaryDir staging;
    if (!Server::isAddress(source) && isJet(fileFormatOf(source))) {
        if (Server::isAddress(destination) || !replace)
            return importAccessCatalogue(source, destination, replace, out, err);
        // A destination the copy would refuse is named before anything is imported.
        if (QString refusal; !Server::destinationAccepted(destination, replace, &refusal)) {
            err << "merchalog: " << refusal << '\n';
            return 1;
        }
        if (!staging.isValid()) {
            err << "merchalog: " << staging.errorString() << '\n';
            return 1;
        }
        const QString imported = staging.filePath(u"imported.mdb"_s);
        if (const int status = importAccessCatalogue(source, imported, false, out, err); status != 0)
            return status;
        source = imported;
    }
    Server::CopyCount count;
    QString error;
    if (!Server::copyCatalogue(source, destination, replace, &count, &error)) {
        err << "merchalog: " << error << '\n';
        return 1;
    }
    out << u"商品 %1 件、取引先 %2 件をコピーしました。"_s.arg(count.products).arg(count.suppliers) << '\n';
    return 0;
}

QString optionText(const QString &name)
{
    return (name.size() == 1 ? u"-"_s : u"--"_s) + name;
}

} // namespace

const QList<Command> &commands()
{
    static const QList<Command> table = {
        {u"--help"_s, u"-h"_s, {}, u"この説明を表示して終了します。"_s, 0, 0, showHelp},
        {u"--version"_s, u"-v"_s, {}, u"名前、バージョンと製造情報を表示して終了します。"_s, 0, 0, showVersion},
        {u"import"_s, {},
         u"カタログ ファイル --table syohin|torihiki [--duplicates skip|update|add] [--dry-run] [--errors エラー.csv]"_s,
         u"CSV ファイルの商品（syohin）か取引先（torihiki）をカタログに取り込みます。\n"
         "カタログにすでにある JAN コード・取引先コードの行は、飛ばすか（skip、既定）、\n"
         "上書きするか（update）、そのまま追加します（add、商品のみ）。\n"
         "--dry-run は確認だけで、何も書き込みません。--errors はエラーの行を\n"
         "元と同じ形式の CSV ファイルに書き出します。エラーの行があるときは、その行を除いて\n"
         "取り込み、終了コード 3 を返します。何も取り込めなかったときは 1 を返します。"_s,
         2, -1, importCsv},
        {u"export"_s, {}, u"カタログ ファイル [--department 部門コード] [--key-mode name|supplier|price|eos|jan --key キー]"_s,
         u"メイン画面の検索と同じ条件で商品を探し、「CSV形式保存」と同じ形式の\n"
         "CSV ファイルに書き出します。条件を指定しないときは、すべての商品を書き出します。"_s,
         2, -1, exportCsv},
        {u"copy"_s, {}, u"[--replace] コピー元 コピー先"_s,
         u"カタログを丸ごとコピーします。どちらもファイルかサーバーのアドレス（postgresql://…）で、すでにカタログのあるコピー先は --replace を付けたときだけ置き換えます。コピー元が Access 形式（.mdb）なら取り込み、取り込めない行を一覧にします。"_s,
         2, 3, copyCatalogue},
        {u"read-jet"_s, {}, {}, {}, 1, -1, readJet, true},
    };
    return table;
}

Request parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    // Whatever follows the catalogue or a command word belongs to it.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    for (const Command &command : commands()) {
        if (!command.isOption())
            continue;
        QStringList names{command.name.mid(2)};
        if (!command.shortName.isEmpty())
            names.prepend(command.shortName.mid(1));
        parser.addOption(QCommandLineOption(names));
    }

    Request request;
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        request.error = usage(unknown.isEmpty()
                                  ? u"引数を読めません（%1）。"_s.arg(parser.errorText())
                                  : u"「%1」というオプションはありません。"_s.arg(optionText(unknown.constFirst())));
        return request;
    }
    for (const Command &command : commands()) {
        if (command.isOption() && parser.isSet(command.name.mid(2))) {
            request.command = &command;
            return request;
        }
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return request;
    for (const Command &command : commands()) {
        if (command.isOption() || command.name != positional.constFirst())
            continue;
        positional.removeFirst();
        if (positional.size() < command.minArguments
            || (command.maxArguments >= 0 && positional.size() > command.maxArguments)) {
            request.error = usage(u"%1 の引数の数が正しくありません。"_s.arg(command.name));
            return request;
        }
        request.command = &command;
        request.arguments = positional;
        return request;
    }
    if (positional.size() > 1) {
        request.error = usage(u"開けるカタログは一つだけです（余分な引数「%1」）。"_s.arg(positional.at(1)));
    } else if (positional.constFirst().isEmpty()) {
        request.error = usage(u"カタログの名前が空です。"_s);
    } else {
        // A file name is made absolute now: an installed program then works in the user's
        // data folder. A server address takes the form the title shows, without any
        // password written into it (the server asks for it).
        const QString &name = positional.constFirst();
        QString error;
        request.catalogue = Server::isAddress(name) ? Server::normalAddress(name, &error)
                                                    : QFileInfo(name).absoluteFilePath();
        if (request.catalogue.isEmpty())
            request.error = usage(error);
    }
    return request;
}

int run(const Request &request, QTextStream &out, QTextStream &err)
{
    if (!request.error.isEmpty()) {
        err << "merchalog: " << request.error << '\n';
        return usageError;
    }
    if (!request.command)
        return 0;
    return request.command->run(request.arguments, out, err);
}

int run(const Request &request)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    return run(request, out, err);
}

QStringList arguments(int argc, char *argv[])
{
    QStringList list;
    list.reserve(argc);
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

bool mayHoldQtOptions(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u"--")
            return false;
        if (argument.size() > 2 && argument.startsWith(u'-') && argument.at(1) != u'-')
            return true;
    }
    return false;
}

QString helpText()
{
    QString usageLines = u"使い方: merchalog [カタログ]\n"_s;
    QString optionLines;
    QString commandLines;
    for (const Command &command : commands()) {
        if (command.hidden)
            continue;
        if (command.isOption()) {
            const QString names = command.shortName.isEmpty() ? command.name
                                                               : command.shortName + u", "_s + command.name;
            optionLines += u"  %1  %2\n"_s.arg(names, -14).arg(command.description);
        } else {
            const QString synopsis = (command.name + u' ' + command.arguments).trimmed();
            usageLines += u"       merchalog "_s + synopsis + u'\n';
            QString description = command.description;
            commandLines += u"  merchalog %1\n      %2\n"_s.arg(synopsis, description.replace(u"\n"_s, u"\n      "_s));
        }
    }
    if (!optionLines.isEmpty())
        usageLines += u"       merchalog オプション\n"_s;
    QString text = usageLines;
    text += u"\n"
            "商品と取引先のカタログ（*.mdb）を扱う商品管理システム Merchalog を起動します。\n"
            "カタログを指定すると、「ファイル」メニューの「開く」で選んだときと同じように\n"
            "そのカタログを開きます。指定しないときは database.mdb で始めます。\n"
            "開けないときは、いつもどおり起動してステータスバーに理由を表示します。\n"_s;
    text += u"\nオプション:\n"_s + optionLines;
    if (!commandLines.isEmpty())
        text += u"\nコマンド（ウィンドウを開かずに実行し、成功すると終了コード 0 を返します）:\n"_s + commandLines;
    return text;
}

} // namespace Merchalog::CommandLine
