// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QStringList>

class QWidget;

namespace artwork {

// The maker's logo, 78 x 32 pixels, and the 32 x 32 window icon, drawn
// rather than shipped so that they scale and need no resource files.
QPixmap makerLogo();
QIcon windowIcon();

// Layout helpers shared by the three windows.
int twipsToPixels(const QWidget* w, int twips); // at the screen's logical dpi
void setBackground(QWidget* w, const QColor& colour);
// Lets each child whose text would be clipped grow to the right.
void growToFit(QWidget* parent);

// Fonts of the original layout with fallbacks for systems without them.
QFont msSansSerif(double pointSize, bool bold);
QFont tahoma(double pointSize, bool bold);

} // namespace artwork
