#pragma once

// Helpers shared by the supplier window tests: a temporary catalogue per test, access to a
// window's controls by object name, and typing the way a user does.

#include "testsupport.h"

#include "catalogue/currentcatalogue.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace Merchalog::Test {

// A catalogue file in a temporary folder; several per test when catalogues are switched.
class TempCatalogues
{
public:
    // Creates an empty catalogue named name in the folder and returns its path.
    QString make(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        return makeCatalogue(path) ? path : QString();
    }
    QString pathOf(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

inline QLineEdit *lineEdit(QWidget *window, const QString &name)
{
    auto *edit = window->findChild<QLineEdit *>(name);
    if (!edit)
        qWarning("no line edit %s", qPrintable(name));
    return edit;
}

inline QPushButton *pushButton(QWidget *window, const QString &name)
{
    auto *button = window->findChild<QPushButton *>(name);
    if (!button)
        qWarning("no push button %s", qPrintable(name));
    return button;
}

// Types a code into a search field and presses Enter.
inline void enterCode(QLineEdit *edit, const QString &code)
{
    edit->setFocus();
    edit->selectAll();
    if (code.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        typeText(edit, code);
    QTest::keyClick(edit, Qt::Key_Return);
}

// Overwrites a field's text by typing, as a user selecting all and typing over it.
inline void overtype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        typeText(edit, text);
}

inline void click(QPushButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// The supplier table in file order: name, address, telephone, code (ten-thousandths), postal code.
inline QList<QVariantList> suppliersIn(const QString &path)
{
    return querySql(path, u"select torihiki_mei, torihiki_add, torihiki_tel, torihiki_code, torihiki_post "
                          "from torihiki order by rowid"_s);
}

inline QVariantList supplierRow(const QString &mei, const QString &add, const QString &tel,
                                qint64 codeUnits, const QString &post)
{
    return {mei, add, tel, QVariant::fromValue(codeUnits), post};
}

inline qint64 units(qint64 whole)
{
    return whole * Currency::unitsPerOne;
}

} // namespace Merchalog::Test

// Exactly one message box was shown, with this text, captioned "Merchalog", no icon, OK only.
#define VERIFY_ONE_MESSAGE(catcher, expected)                                     \
    do {                                                                          \
        QCOMPARE((catcher).count(), 1);                                           \
        const auto &seen_ = (catcher).seen().constFirst();                        \
        QCOMPARE(seen_.text, QString(expected));                                  \
        QCOMPARE(seen_.title, u"Merchalog"_s);                                    \
        QCOMPARE(seen_.icon, int(QMessageBox::NoIcon));                           \
        QCOMPARE(seen_.buttons.size(), 1);                                        \
    } while (false)
