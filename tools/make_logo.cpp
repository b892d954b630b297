// Draws the maker's logo that the version window shows (379 x 62 pixels) and writes it as
// a JPEG file to the path given, which must not exist yet.
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

QImage drawLogo()
{
    QImage image(379, 62, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient background(0, 0, 379, 62);
    background.setColorAt(0.0, QColor(0x12, 0x2b, 0x55));
    background.setColorAt(1.0, QColor(0x1b, 0x7a, 0x8c));
    p.fillRect(image.rect(), background);

    // A price tag with its string hole.
    QPainterPath tag;
    tag.moveTo(14, 31);
    tag.lineTo(28, 13);
    tag.lineTo(58, 13);
    tag.lineTo(58, 49);
    tag.lineTo(28, 49);
    tag.closeSubpath();
    p.fillPath(tag, QColor(0xf5, 0xb8, 0x2e));
    p.setBrush(QColor(0x12, 0x2b, 0x55));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(29, 31), 4, 4);
    p.setPen(QPen(QColor(0x12, 0x2b, 0x55), 2.5));
    p.drawLine(QPointF(38, 24), QPointF(52, 24));
    p.drawLine(QPointF(38, 31), QPointF(52, 31));
    p.drawLine(QPointF(38, 38), QPointF(48, 38));

    QFont font(u"DejaVu Sans"_s);
    font.setPixelSize(34);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(72, 4, 300, 44), Qt::AlignLeft | Qt::AlignVCenter, u"Merchalog"_s);

    QFont small(u"DejaVu Sans"_s);
    small.setPixelSize(11);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
    p.setFont(small);
    p.setPen(QColor(0xd8, 0xec, 0xf0));
    p.drawText(QRect(74, 44, 300, 16), Qt::AlignLeft | Qt::AlignVCenter,
               u"PRODUCT CATALOGUE"_s);
    p.end();
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing text needs a GUI application, but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const char usage[] = "usage: make_logo <path.jpg>   (draws the version window's logo into a new file)\n";
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (args.size() != 2 || args.at(1).startsWith(u'-')) {
        QTextStream(stderr) << usage;
        return 2;
    }
    if (QFileInfo::exists(args.at(1)) || QFileInfo(args.at(1)).isSymLink()) {
        QTextStream(stderr) << "make_logo: " << args.at(1) << " already exists; remove it first\n";
        return 1;
    }
    if (!drawLogo().save(args.at(1), "JPEG", 92)) {
        QTextStream(stderr) << "make_logo: cannot write " << args.at(1) << '\n';
        return 1;
    }
    return 0;
}
