// Draws the program's icon for the desktop menu in the usual sizes: a price tag on the
// logo's colours. Writes merchalog-<size>.png for each size into the folder given.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int sizes[] = {16, 24, 32, 48, 64, 128, 256};

// Drawn on a 256-unit square and scaled, with lines kept at least one pixel wide.
QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal scale = size / 256.0;
    p.scale(scale, scale);

    QLinearGradient background(0, 0, 256, 256);
    background.setColorAt(0.0, QColor(0x12, 0x2b, 0x55));
    background.setColorAt(1.0, QColor(0x1b, 0x7a, 0x8c));
    QPainterPath square;
    square.addRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
    p.fillPath(square, background);

    // The tag points left; its string hole sits near the point.
    QPainterPath tag;
    tag.moveTo(34, 128);
    tag.lineTo(92, 58);
    tag.lineTo(222, 58);
    tag.lineTo(222, 198);
    tag.lineTo(92, 198);
    tag.closeSubpath();
    p.fillPath(tag, QColor(0xf5, 0xb8, 0x2e));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x12, 0x2b, 0x55));
    p.drawEllipse(QPointF(90, 128), 16, 16);

    // Lines of a product entry; fewer at the smallest sizes, where they would merge.
    const qreal width = std::max(18.0, 1.0 / scale);
    p.setPen(QPen(QColor(0x12, 0x2b, 0x55), width, Qt::SolidLine, Qt::RoundCap));
    if (size >= 32) {
        p.drawLine(QPointF(130, 96), QPointF(196, 96));
        p.drawLine(QPointF(130, 128), QPointF(196, 128));
        p.drawLine(QPointF(130, 160), QPointF(176, 160));
    } else {
        p.drawLine(QPointF(134, 104), QPointF(194, 104));
        p.drawLine(QPointF(134, 152), QPointF(180, 152));
    }
    p.end();
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    // Painting needs a GUI application, but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 || args.at(1) == u"--help" || args.at(1) == u"-h") {
        QTextStream(args.size() == 2 ? stdout : stderr)
            << "usage: make_icon <folder>\n"
               "Draws the program's icon and writes merchalog-16.png ... merchalog-256.png into the folder.\n";
        return args.size() == 2 ? 0 : 2;
    }
    const QDir folder(args.at(1));
    if (!folder.mkpath(u"."_s)) {
        QTextStream(stderr) << "make_icon: cannot make the folder " << args.at(1) << '\n';
        return 1;
    }
    for (const int size : sizes) {
        const QString path = folder.filePath(u"merchalog-%1.png"_s.arg(size));
        if (!drawIcon(size).save(path, "PNG")) {
            QTextStream(stderr) << "make_icon: cannot write " << path << '\n';
            return 1;
        }
    }
    return 0;
}
