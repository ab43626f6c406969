// Build-time tool: renders the application's SVG icon into the PNG sizes of
// the hicolor icon theme, so the PNGs are always the SVG's.
//   rendericon ICON.svg OUTDIR SIZE...
// writes OUTDIR/<SIZE>x<SIZE>/apps/<name of ICON>.png for each size.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        fprintf(stderr, "usage: rendericon ICON.svg OUTDIR SIZE...\n");
        return 1;
    }
    QSvgRenderer svg(args[1]);
    if (!svg.isValid()) {
        fprintf(stderr, "rendericon: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    const QString name = QFileInfo(args[1]).completeBaseName() + QStringLiteral(".png");
    for (int i = 3; i < args.size(); ++i) {
        bool ok = false;
        const int size = args[i].toInt(&ok);
        if (!ok || size < 8 || size > 1024) {
            fprintf(stderr, "rendericon: size %s is not from 8 to 1024\n", qPrintable(args[i]));
            return 1;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args[2]).arg(size);
        if (!QDir().mkpath(dir) || !image.save(dir + QLatin1Char('/') + name)) {
            fprintf(stderr, "rendericon: cannot write %s/%s\n", qPrintable(dir), qPrintable(name));
            return 1;
        }
    }
    return 0;
}
