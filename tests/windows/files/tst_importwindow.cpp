// Importing a CSV file from the main window's file menu: the question, the preview, the error
// rows saved from it, and what the main window shows afterwards.
#include "mainwindow.h"
#include "windowsupport.h"

#include "app/filemenu.h"
#include "engine/kinds/schema.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "windows/files/importpreview.h"
#include "engine/server/cataloguetransfer.h"
#include "pgtestserver.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include <deque>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

// Answers the file dialogs in turn.
class ScriptedDialogs final : public FileDialogs
{
public:
    explicit ScriptedDialogs(std::deque<QString> answers) : m_answers(std::move(answers)) {}
    std::optional<QString> openFileName(QWidget *, const QString &, const QString &) override { return next(); }
    std::optional<QString> saveFileName(QWidget *, const QString &, const QString &, bool) override { return next(); }
    bool printerSetup(QWidget *, QPrinter *) override { return false; }

private:
    std::optional<QString> next()
    {
        if (m_answers.empty())
            return std::nullopt;
        QString answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    std::deque<QString> m_answers;
};

} // namespace

class TestImportWindow final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void importThroughMenu_data();
    void importThroughMenu();
};

void TestImportWindow::importThroughMenu_data()
{
    QTest::addColumn<bool>("server");      // the main window on a server copy of the catalogue
    QTest::addColumn<QString>("answer");   // the button pressed when asked what the file holds
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("preview");  // "import", "update" (chosen) then import, or "errors" (saved) then cancel
    QTest::addColumn<QString>("message");  // in the one message box shown besides; empty: none
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("status");   // the status bar afterwards, past the file's name

    const QStringList before{u"りんご"_s, u"みかん"_s};
    const QByteArray products = "syohin_mei,syohin_master,syohin_sale,syohin_genka,syohin_JAN,syohin_EOS,syohin_EOStani,"
                                "syohin_torihikicode,bumon_code,bumon_AU\n新商品,1,1,1,111,1,1,120,1,1\n"
                                "予約,1,1,1,-99,1,1,120,1,1\n同じJAN,1,1,1,4901234567894,1,1,120,1,1\n"
                                "誤り,x,1,1,112,1,1,120,1,1\n";
    for (const bool server : {false, true}) {
        QTest::addRow("products imported and listed, reserved ones not%s", server ? " (server)" : "")
            << server << u"商品(&S)"_s << products << u"import"_s << QString() << QStringList{u"新商品"_s}
            << u"から商品を 2件追加し、0件上書きしました。エラーのある 1行は取り込んでいません。"_s;
        // The list is in file order, which is not the order the catalogue holds the records in.
        QTest::addRow("products updated after one added, listed in file order%s", server ? " (server)" : "")
            << server << u"商品(&S)"_s << products.first(products.indexOf("予約")) + "りんご改,1,1,1,4901234567894,1,1,120,1,1\n"
            << u"update"_s << QString() << QStringList{u"新商品"_s, u"りんご改"_s}
            << u"から商品を 1件追加し、1件上書きしました。"_s;
    }
    QTest::newRow("suppliers, error rows saved, cancelled")
        << false << u"取引先(&T)"_s << QByteArray("取引先名,取引先住所,取引先電話番号,取引先コード,取引先郵便番号\nA,B,C,130,D\nA,B,,131,D\n")
        << u"errors"_s << QString() << before << QString();
    QTest::newRow("no header") << false << u"商品(&S)"_s << QByteArray("a,b\n") << QString() << u"の1行目に商品の見出しがありません"_s
                               << before << QString();
    QTest::newRow("question cancelled") << false << u"キャンセル(&C)"_s << products << QString() << QString() << before << QString();
}

void TestImportWindow::importThroughMenu()
{
    QFETCH(bool, server);
    QFETCH(QString, answer);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, preview);
    QFETCH(QString, message);
    QFETCH(QStringList, listed);
    QFETCH(QString, status);

    TestFolder folder;
    QVERIFY(folder.isValid());
    const QString catalogue = folder.catalogue();
    QVERIFY(insertSupplier(catalogue, {u"テスト商事"_s, u"東京"_s, u"03"_s, u"120"_s, u"100"_s}));
    QVERIFY(insertProduct(catalogue, {.mei = u"りんご"_s}));
    QVERIFY(insertProduct(catalogue, {.mei = u"みかん"_s, .jan = u"4900000000000"_s}));
    const QString file = folder.filePath(u"in.csv"_s);
    const QString errors = folder.filePath(u"errors.csv"_s);
    QVERIFY(writeFile(file, bytes));

    const auto window = startMain();
    if (server) {
        const QString address = makeDatabase();
        QString error;
        QVERIFY2(Server::copyCatalogue(catalogue, address, false, nullptr, &error), qPrintable(error));
        QVERIFY(window->fileMenu()->switchCatalogue(address, QString(SqlText::emptyProductView)));
        QCOMPARE(window->data1()->databaseName(), address);
    }
    window->fileMenu()->setDialogs(std::make_unique<ScriptedDialogs>(std::deque<QString>{file, errors}));
    window->data1()->setRecordSource(QString(SqlText::allProducts));
    QVERIFY(window->data1()->refresh());
    window->statusBar()->clearMessage();
    QStringList messages;
    ModalCatcher catcher;
    catcher.setHandler([&](QWidget *modal) {
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            const auto buttons = box->buttons();
            const auto chosen = std::find_if(buttons.begin(), buttons.end(), [&](auto *b) { return b->text() == answer; });
            if (chosen == buttons.end())
                messages << box->text();
            (chosen == buttons.end() ? buttons.constFirst() : *chosen)->click();
        } else if (qobject_cast<ImportPreview *>(modal)) {
            if (preview == u"errors")
                pushButton(modal, u"cmdSaveErrors"_s)->click();
            if (preview == u"update") {
                auto *choice = modal->findChild<QComboBox *>(u"cboDuplicates"_s);
                choice->setCurrentIndex(int(DuplicateChoice::Update));
                Q_EMIT choice->activated(choice->currentIndex());
            }
            pushButton(modal, preview == u"errors" ? u"Command2"_s : u"Command1"_s)->click();
        }
    });
    trigger(window.get(), u"mnufileImport"_s);

    QCOMPARE(messages.size(), message.isEmpty() ? 0 : 1);
    QVERIFY(messages.join(u'|').contains(message));
    QCOMPARE(listedNames(window->data1()), listed);
    // As an export of the list reads it.
    QStringList exported;
    const int name = window->data1()->fieldIndex(Field::syohin_mei);
    QVERIFY(window->data1()->forEachRow([&](const Row &row) { return exported << row.at(name).toString(), true; }));
    QCOMPARE(exported, listed);
    QCOMPARE(window->statusBar()->currentMessage().section(u' ', 1), status);
    QCOMPARE(readFile(errors).count('\n'), preview == u"errors" ? 2 : 0);
    if (preview == u"errors" || preview.isEmpty())
        QCOMPARE(sqlValue(catalogue, u"SELECT count(*) FROM syohin"_s).toInt(), 2);
}

QTEST_MAIN(TestImportWindow)
#include "tst_importwindow.moc"
