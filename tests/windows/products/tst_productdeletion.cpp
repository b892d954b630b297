#include "mainwindow.h"
#include "windowsupport.h"

#include "app/syohin_main.h"
#include "engine/records/recordsource.h"
#include "windows/products/productdeletion.h"

#include <QFile>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

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
    void deleteProduct() { trigger(m_window.get(), u"mnusyohinDelete"_s); }
    void clickRow(int row) { Test::clickRow(m_window->findChild<QTableView *>(u"DBGrid1"_s), row); }
    QStringList storedNames() const;
    QStringList listed() const { return listedNames(m_window->data1()); }

    std::unique_ptr<TestFolder> m_folder;
    QString m_db;
    std::unique_ptr<Syohin_Main> m_window;
};

void TestProductDeletion::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_db = m_folder->catalogue();
    int jan = 1;
    for (const QString &name : {u"食パン"_s, u"牛乳"_s, u"バター"_s})
        QVERIFY(insertProduct(m_db, {.mei = name, .jan = QString::number(4900000000000LL + jan++), .bumon = u"4"_s}));
    m_window = startMain();
}

void TestProductDeletion::cleanup()
{
    m_window.reset();
    m_folder.reset();
}

void TestProductDeletion::search(const QString &department)
{
    lineEdit(m_window.get(), u"SBumon_code"_s)->setText(department);
    QTest::keyClick(lineEdit(m_window.get(), u"SBumon_code"_s), Qt::Key_Return);
}

QStringList TestProductDeletion::storedNames() const
{
    QStringList names;
    for (const auto &row : productsIn(m_db))
        names << row.value(0).toString();
    return names;
}

void TestProductDeletion::deletesSelectedProduct()
{
    ModalCatcher catcher;
    search(u"4"_s);
    clickRow(1);
    deleteProduct();
    QCOMPARE(storedNames(), (QStringList{u"食パン"_s, u"バター"_s}));
    // The list is not re-run, but the deleted row leaves it; nothing is current.
    QCOMPARE(listed(), (QStringList{u"食パン"_s, u"バター"_s}));
    QVERIFY(!m_window->data1()->hasCurrentRecord());
    QCOMPARE(lineEdit(m_window.get(), u"Text1"_s)->text(), QString());
    // The same search no longer lists it.
    search(u"4"_s);
    QCOMPARE(listed(), (QStringList{u"食パン"_s, u"バター"_s}));
    QCOMPARE(catcher.count(), 0);
}

void TestProductDeletion::secondDeletionDoesNothing()
{
    ModalCatcher catcher;
    search(u"4"_s);
    deleteProduct();
    deleteProduct();
    QCOMPARE(storedNames(), (QStringList{u"牛乳"_s, u"バター"_s}));
    QCOMPARE(catcher.count(), 0);
    // Choosing another row makes deletion work again.
    clickRow(1);
    deleteProduct();
    QCOMPARE(storedNames(), QStringList{u"牛乳"_s});
}

void TestProductDeletion::emptyListDoesNothing()
{
    ModalCatcher catcher;
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
    QLineEdit *price = lineEdit(m_window.get(), u"Text2"_s);
    overtype(price, u"abc"_s);
    QVERIFY(m_window->data1()->hasPendingEdits());
    ModalCatcher catcher;
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
    ModalCatcher catcher;
    deleteProduct();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
    QVERIFY2(catcher.lastText().startsWith(u"削除できませんでした: "_s), qPrintable(catcher.lastText()));
    QVERIFY(m_window->data1()->hasCurrentRecord());
    m_db += u".moved"_s;
    QCOMPARE(storedNames().size(), 3);
}

QTEST_MAIN(TestProductDeletion)
#include "tst_productdeletion.moc"
