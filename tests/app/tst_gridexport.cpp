// A cell being edited in the grid when a file command starts: the command sees the typed text.
#include "app/filemenu.h"
#include "app/syohin_main.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "ui/appfolder.h"
#include "windows/files/newdatabase.h"
#include "windowsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {

// Answers every save dialog with one path.
class SaveTo final : public FileDialogs
{
public:
    explicit SaveTo(QString path) : m_path(std::move(path)) {}
    std::optional<QString> openFileName(QWidget *, const QString &, const QString &) override { return std::nullopt; }
    std::optional<QString> saveFileName(QWidget *, const QString &, const QString &, bool) override { return m_path; }
    bool printerSetup(QWidget *, QPrinter *) override { return false; }

private:
    QString m_path;
};

} // namespace

class TestGridExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void openCellEditIsExportedAndStored();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousCurrent;
};

void TestGridExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_previousCurrent = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    AppFolder::setPathOverride(m_dir->path());
    CurrentCatalogue::instance().setDatabaseName(u"database.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_dir->filePath(u"database.mdb"_s)));
    Test::Product product{u"apple"_s};
    QVERIFY(Test::insertProduct(m_dir->filePath(u"database.mdb"_s), product));
}

void TestGridExport::cleanup()
{
    QDir::setCurrent(m_previousCurrent);
    AppFolder::setPathOverride({});
    CurrentCatalogue::instance().setDatabaseName(u"database.mdb"_s);
    m_dir.reset();
}

void TestGridExport::openCellEditIsExportedAndStored()
{
    Syohin_Main window;
    window.show();
    window.startUp();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QString csv = m_dir->filePath(u"out.csv"_s);
    window.fileMenu()->setDialogs(std::make_unique<SaveTo>(csv));

    auto *department = window.findChild<QLineEdit *>(u"SBumon_code"_s);
    department->setText(u"3"_s);
    QTest::keyClick(department, Qt::Key_Return);
    QCOMPARE(window.data1()->recordCount(), 1);

    auto *grid = window.findChild<QTableView *>(u"DBGrid1"_s);
    const QModelIndex name = window.data1()->index(0, window.data1()->fieldIndex(u"syohin_mei"));
    grid->setFocus();
    grid->setCurrentIndex(name);
    grid->edit(name);
    QWidget *editor = QApplication::focusWidget();
    QVERIFY(editor && editor != grid);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, u"banana"_s);
    // The editor is still open when the export starts.
    window.findChild<QAction *>(u"mnufileCSV"_s)->trigger();

    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QVERIFY(lines.value(1).startsWith("\"banana\","));
    QCOMPARE(Test::querySql(m_dir->filePath(u"database.mdb"_s), u"select syohin_mei from syohin"_s)
                 .value(0).value(0).toString(), u"banana"_s);
}

QTEST_MAIN(TestGridExport)
#include "tst_gridexport.moc"
