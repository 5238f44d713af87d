#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "ResourcePaths.h"

Translations::Translations(const QLocale &locale)
{
    const QString prefix = QStringLiteral("_");
    m_qtLoaded = m_qt.load(locale, QStringLiteral("qtbase"), prefix,
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        && QCoreApplication::installTranslator(&m_qt);
    m_ownLoaded =
        m_own.load(locale, QStringLiteral("kalvessa100"), prefix, ResourcePaths::Translations)
        && QCoreApplication::installTranslator(&m_own);
}

// Removing them tells every widget to show its texts again, in the language left.
Translations::~Translations()
{
    if (m_ownLoaded)
        QCoreApplication::removeTranslator(&m_own);
    if (m_qtLoaded)
        QCoreApplication::removeTranslator(&m_qt);
}
