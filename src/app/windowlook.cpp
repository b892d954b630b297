#include "app/windowlook.h"

#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QStringList>
#include <QWidget>

#include <cmath>

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

} // namespace

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
}

} // namespace Merchalog
