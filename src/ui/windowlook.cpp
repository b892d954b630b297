#include "ui/windowlook.h"

#include <QAbstractItemView>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QItemEditorFactory>
#include <QLineEdit>
#include <QMainWindow>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QWidget>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace Merchalog {

void installJapaneseFontSubstitutes()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    const QStringList gothicP{u"IPAPGothic"_s, u"IPA Pゴシック"_s, u"Noto Sans CJK JP"_s};
    const QStringList gothic{u"IPAGothic"_s, u"IPAゴシック"_s, u"Noto Sans Mono CJK JP"_s,
                             u"Noto Sans CJK JP"_s};
    for (const QString &name : {u"ＭＳ Ｐゴシック"_s, u"MS PGothic"_s, u"MS UI Gothic"_s,
                                u"ＭＳ Ｐ明朝"_s})
        QFont::insertSubstitutions(name, gothicP);
    for (const QString &name : {u"ＭＳ ゴシック"_s, u"MS Gothic"_s, u"ＭＳ 明朝"_s})
        QFont::insertSubstitutions(name, gothic);
}

double screenScale(const QWidget *widget)
{
    const int dpi = widget->logicalDpiX();
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

namespace {

// A line edit's default limit of 32,767 characters would cut longer text on showing it and
// store the cut text on editing: the fields take what the catalogue holds.
constexpr int unlimitedLength = std::numeric_limits<int>::max();

// The editors that tables open in their cells, without the length limit.
class UnlimitedEditorFactory final : public QItemEditorFactory
{
public:
    QWidget *createEditor(int userType, QWidget *parent) const override
    {
        QWidget *editor = QItemEditorFactory::defaultFactory()->createEditor(userType, parent);
        if (auto *field = qobject_cast<QLineEdit *>(editor))
            field->setMaxLength(unlimitedLength);
        return editor;
    }
};

int scaled(int value, double factor)
{
    return int(std::lround(value * factor));
}

// Plain containers whose children the form file places; other widgets manage their own.
bool isFormContainer(const QWidget *widget)
{
    const QMetaObject *meta = widget->metaObject();
    return meta == &QWidget::staticMetaObject || meta == &QFrame::staticMetaObject
        || meta == &QGroupBox::staticMetaObject;
}

void scaleChildren(QWidget *container, double factor)
{
    const auto children = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        if (child->isWindow())
            continue;
        const QRect g = child->geometry();
        child->setGeometry(scaled(g.x(), factor), scaled(g.y(), factor),
                           scaled(g.width(), factor), scaled(g.height(), factor));
        if (isFormContainer(child))
            scaleChildren(child, factor);
    }
}

// Scales the positions and sizes of the controls in container, and the container's own size
// (fixed or not), from 96-DPI pixels to the screen's logical DPI.
void scaleToScreen(QWidget *container)
{
    const double factor = screenScale(container);
    if (std::abs(factor - 1.0) < 0.01)
        return;
    scaleChildren(container, factor);
    const QSize min = container->minimumSize();
    const QSize max = container->maximumSize();
    if (min == max && !min.isEmpty())
        container->setFixedSize(scaled(min.width(), factor), scaled(min.height(), factor));
    else
        container->resize(scaled(container->width(), factor), scaled(container->height(), factor));
}

} // namespace

void finishWindowSetUp(QWidget *window)
{
    if (!window->testAttribute(Qt::WA_SetFont))
        window->setFont(QFont(u"ＭＳ Ｐゴシック"_s, 9));
    auto *mainWindow = qobject_cast<QMainWindow *>(window);
    scaleToScreen(mainWindow && mainWindow->centralWidget() ? mainWindow->centralWidget() : window);

    static UnlimitedEditorFactory unlimitedEditors;
    for (QLineEdit *field : window->findChildren<QLineEdit *>())
        field->setMaxLength(unlimitedLength);
    for (QAbstractItemView *view : window->findChildren<QAbstractItemView *>()) {
        if (auto *delegate = qobject_cast<QStyledItemDelegate *>(view->itemDelegate()))
            delegate->setItemEditorFactory(&unlimitedEditors);
    }
}

} // namespace Merchalog
