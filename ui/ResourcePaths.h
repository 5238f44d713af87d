#pragma once

#include <QString>

// The compiled-in images (resources/kalvessa.qrc).
namespace ResourcePaths {
inline const QString GreenLight = QStringLiteral(":/img/green_small.png");
inline const QString RedLight = QStringLiteral(":/img/red_small.png");
inline const QString Logo = QStringLiteral(":/logo/marvolen.png");
inline const QString LargeLogo = QStringLiteral(":/logo/halvetor.png");
} // namespace ResourcePaths
