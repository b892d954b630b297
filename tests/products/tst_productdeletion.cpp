#include "testsupport.h"

#include "app/syohin_main.h"
#include "catalogue/appfolder.h"
#include "catalogue/currentcatalogue.h"
#include "catalogue/recordsource.h"
#include "catalogue/schema.h"
#include "products/productdeletion.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Merchalog;

class TestProductDeletion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void deletesSelectedProduct();
    void secondDeletionDoesNothing();
    void emptyListDoesNothing();
    void pendingEditIsAbandoned();
    void newRecordIsAbandoned();
    void unwritableCatalogueIsReported();

private:
    void search(const QString &department);
    void deleteProduct();
    void clickRow(int row);
    QStringList storedNames() const;
    QStringList listedNames() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_db;
    QString m_previousCurrent;
    std::unique_ptr<Syohin_Main> m_window;
};

void TestProductDeletion::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousCurrent = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    AppFolder::setPathOverride(m_dir->path());
    CurrentCatalogue::instance().setDatabaseName(u"database.mdb"_s);
    m_db = m_dir->filePath(u"database.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_db));
    int jan = 1;
    for (const QString &name : {u"食パン"_s, u"牛乳"_s, u"バター"_s}) {
        Test::Product product{name};
        product.bumon = u"4"_s;
        product.jan = QString::number(4900000000000LL + jan++);
        QVERIFY(Test::insertProduct(m_db, product));
    }
    m_window = std::make_unique<Syohin_Main>();
    m_window->show();
    m_window->startUp();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestProductDeletion::cleanup()
{
    m_window.reset();
    QDir::setCurrent(m_previousCurrent);
    AppFolder::setPathOverride({});
    m_dir.reset();
}

void TestProductDeletion::search(const QString &department)
{
    auto *field = m_window->findChild<QLineEdit *>(u"SBumon_code"_s);
    field->setText(department);
    QTest::keyClick(field, Qt::Key_Return);
}

void TestProductDeletion::deleteProduct()
{
    m_window->findChild<QAction *>(u"mnusyohinDelete"_s)->trigger();
}

void TestProductDeletion::clickRow(int row)
{
    auto *grid = m_window->findChild<QTableView *>(u"DBGrid1"_s);
    const QRect cell = grid->visualRect(grid->model()->index(row, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

QStringList TestProductDeletion::storedNames() const
{
    QStringList names;
    for (const auto &row : Test::querySql(m_db, u"select syohin_mei from syohin order by rowid"_s))
        names << row.value(0).toString();
    return names;
}

QStringList TestProductDeletion::listedNames() const
{
    RecordSource *data1 = m_window->data1();
    QStringList names;
    for (int row = 0; row < data1->rowCount(); ++row)
        names << data1->data(data1->index(row, data1->fieldIndex(Field::syohin_mei))).toString();
    return names;
}

void TestProductDeletion::deletesSelectedProduct()
{
    Test::ModalCatcher catcher;
    search(u"4"_s);
    clickRow(1);
    deleteProduct();
    QCOMPARE(storedNames(), (QStringList{u"食パン"_s, u"バター"_s}));
    // The list is not re-run: the row stays, blank, and nothing is current.
    QCOMPARE(listedNames(), (QStringList{u"食パン"_s, QString(), u"バター"_s}));
    QVERIFY(!m_window->data1()->hasCurrentRecord());
    QCOMPARE(m_window->findChild<QLineEdit *>(u"Text1"_s)->text(), QString());
    // The same search no longer lists it.
    search(u"4"_s);
    QCOMPARE(listedNames(), (QStringList{u"食パン"_s, u"バター"_s}));
    QCOMPARE(catcher.count(), 0);
}

void TestProductDeletion::secondDeletionDoesNothing()
{
    Test::ModalCatcher catcher;
    search(u"4"_s);
    deleteProduct();
    deleteProduct();
    QCOMPARE(storedNames(), (QStringList{u"牛乳"_s, u"バター"_s}));
    QCOMPARE(catcher.count(), 0);
    // Choosing another row makes deletion work again.
    clickRow(2);
    deleteProduct();
    QCOMPARE(storedNames(), QStringList{u"牛乳"_s});
}

void TestProductDeletion::emptyListDoesNothing()
{
    Test::ModalCatcher catcher;
    deleteProduct();
    search(u"9"_s);
    QCOMPARE(m_window->data1()->recordCount(), 0);
    deleteProduct();
    QCOMPARE(storedNames().size(), 3);
    QCOMPARE(catcher.count(), 0);
}

void TestProductDeletion::pendingEditIsAbandoned()
{
    search(u"4"_s);
    // Even an edit that could never be stored does not stand in the way.
    auto *price = m_window->findChild<QLineEdit *>(u"Text2"_s);
    price->setFocus();
    price->selectAll();
    Test::typeText(price, u"abc"_s);
    QVERIFY(m_window->data1()->hasPendingEdits());
    Test::ModalCatcher catcher;
    deleteProduct();
    QCOMPARE(storedNames(), (QStringList{u"牛乳"_s, u"バター"_s}));
    QVERIFY(!m_window->data1()->hasPendingEdits());
    QCOMPARE(price->text(), QString());
    // Moving on raises nothing about the dropped edit.
    clickRow(1);
    QCOMPARE(catcher.count(), 0);
}

void TestProductDeletion::newRecordIsAbandoned()
{
    search(u"4"_s);
    RecordSource *data1 = m_window->data1();
    QVERIFY(data1->addNew());
    QVERIFY(data1->setText(Field::syohin_mei, u"追加中"_s));
    QVERIFY(!deleteCurrentProduct(data1, m_window.get()));
    QCOMPARE(data1->editMode(), EditMode::None);
    QCOMPARE(storedNames().size(), 3);
}

void TestProductDeletion::unwritableCatalogueIsReported()
{
    search(u"4"_s);
    QVERIFY(QFile::rename(m_db, m_db + u".moved"_s));
    Test::ModalCatcher catcher;
    deleteProduct();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
    QVERIFY(catcher.lastText().startsWith(u"商品を削除できませんでした。"_s));
    QVERIFY(m_window->data1()->hasCurrentRecord());
    m_db += u".moved"_s;
    QCOMPARE(storedNames().size(), 3);
}

QTEST_MAIN(TestProductDeletion)
#include "tst_productdeletion.moc"
