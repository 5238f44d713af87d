#pragma once

#include <QString>

// The compiled-in images (resources/kalvessa.qrc) and the translations (ui/translations/).
namespace ResourcePaths {
inline const QString GreenLight = QStringLiteral(":/img/green_small.png");
inline const QString RedLight = QStringLiteral(":/img/red_small.png");
inline const QString Logo = QStringLiteral(":/logo/marvolen.png");
inline const QString LogoOnDark = QStringLiteral(":/logo/marvolen_light.png");
inline const QString AppIcon = QStringLiteral(":/icons/org.kalvessa.Kalvessa100.png");
// The name the installed icon has in the desktop's icon theme (hicolor).
inline const QString ThemeIcon = QStringLiteral("org.kalvessa.Kalvessa100");
inline const QString Translations = QStringLiteral(":/i18n");
}  // namespace ResourcePaths
