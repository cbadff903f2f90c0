// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace about {

// The maker shown in the title of the main window and in the About box.
inline const QString MakerName = QStringLiteral("Brindlewood Tilt Instruments");

// Six lines joined by CR LF, the last one "Rev 2.0" with no line end.
QString text();

} // namespace about
