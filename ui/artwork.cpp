// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWidget>

namespace artwork {

QPixmap makerLogo()
{
    QPixmap pm(78, 32);
    pm.fill(QColor(0, 0, 128));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 78, 32);
    g.setColorAt(0, QColor(0, 0, 128));
    g.setColorAt(1, QColor(0, 96, 160));
    p.fillRect(pm.rect(), g);
    // A tilted level bubble: the company mark.
    p.setPen(QPen(QColor(255, 210, 0), 2));
    p.drawLine(4, 24, 30, 8);
    p.setBrush(QColor(255, 210, 0));
    p.drawEllipse(QPointF(17, 16), 3.5, 3.5);
    p.setPen(Qt::white);
    QFont f = msSansSerif(10, true);
    f.setPixelSize(13);
    p.setFont(f);
    p.drawText(QRect(32, 2, 44, 28), Qt::AlignCenter, QStringLiteral("BTI"));
    p.end();
    return pm;
}

QIcon windowIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 255, 255));
    p.setPen(QPen(QColor(0, 0, 128), 2));
    p.drawEllipse(2, 2, 28, 28);
    p.setPen(QPen(QColor(255, 0, 0), 3));
    p.drawLine(6, 22, 26, 10);
    p.end();
    return {pm};
}

int twipsToPixels(const QWidget* w, int twips)
{
    const QScreen* s = w ? w->screen() : nullptr;
    const double dpi = s ? s->logicalDotsPerInchX() : 96.0;
    return qRound(twips * dpi / 1440.0);
}

void setBackground(QWidget* w, const QColor& colour)
{
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
}

void growToFit(QWidget* parent)
{
    // Fonts here may be wider than those the layout was drawn for.
    for (QWidget* child : parent->findChildren<QWidget*>()) {
        if (child->sizeHint().width() > child->width())
            child->resize(child->sizeHint().width(), child->height());
    }
}

namespace {
QFont withFamilies(const QStringList& families, double pointSize, bool bold)
{
    QFont f;
    f.setFamilies(families);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}
} // namespace

QFont msSansSerif(double pointSize, bool bold)
{
    return withFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
            QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")},
        pointSize, bold);
}

QFont tahoma(double pointSize, bool bold)
{
    return withFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Verdana"),
                            QStringLiteral("Liberation Sans"), QStringLiteral("Sans Serif")},
        pointSize, bold);
}

} // namespace artwork
