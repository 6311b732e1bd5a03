// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trend/trend_picture.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QSvgGenerator>
#include <QWidget>

namespace {
constexpr int kMargin = 8;

QStringList captionLines(const QString& caption) { return caption.split(QLatin1Char('\n')); }

QSize pictureSize(QWidget* chart, const QString& caption, const QFont& font) {
    const QFontMetrics metrics(font);
    const int lines = static_cast<int>(captionLines(caption).size());
    return {chart->width(), chart->height() + kMargin * 2 + lines * metrics.lineSpacing()};
}

// Draws a line's tab-separated fields in equal columns across `width`, so
// the statistics keep their columns in both PNG and SVG.
void drawCaptionLine(QPainter& painter, const QString& line, int y, int width) {
    const QStringList fields = line.split(QLatin1Char('\t'));
    const int column = (width - 2 * kMargin) / static_cast<int>(fields.size());
    int x = kMargin;
    for (const QString& field : fields) {
        painter.drawText(x, y, field);
        x += column;
    }
}

void paintPicture(QPainter& painter, QWidget* chart, const QString& caption, const QSize& size) {
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    chart->render(&painter, QPoint(0, 0), QRegion(), QWidget::DrawChildren);
    painter.setPen(Qt::black);
    painter.setFont(chart->font());
    int y = chart->height() + kMargin + painter.fontMetrics().ascent();
    for (const QString& line : captionLines(caption)) {
        drawCaptionLine(painter, line, y, size.width());
        y += painter.fontMetrics().lineSpacing();
    }
}
}  // namespace

QImage trendPicture(QWidget* chart, const QString& caption) {
    const QSize size = pictureSize(chart, caption, chart->font());
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    paintPicture(painter, chart, caption, size);
    return image;
}

bool saveTrendPicture(QWidget* chart, const QString& caption, const QString& path, QString* error) {
    if (!path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive)) {
        QImage image = trendPicture(chart, caption);
        if (image.save(path, "PNG")) return true;
        QFile probe(path);
        *error = probe.open(QIODevice::WriteOnly) ? QStringLiteral("the image cannot be encoded") : probe.errorString();
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QSize size = pictureSize(chart, caption, chart->font());
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QStringLiteral("Kolvar CAN Viewer — Trend"));
    svg.setDescription(caption);
    {
        QPainter painter;
        if (!painter.begin(&svg)) {
            *error = QStringLiteral("the drawing cannot be started");
            return false;
        }
        paintPicture(painter, chart, caption, size);
    }
    if (file.error() != QFileDevice::NoError || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

void copyTrendPicture(QWidget* chart, const QString& caption) {
    auto* data = new QMimeData;
    data->setImageData(trendPicture(chart, caption));
    data->setText(caption);
    QGuiApplication::clipboard()->setMimeData(data);
}
