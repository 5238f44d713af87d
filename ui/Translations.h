#pragma once

#include <QLocale>
#include <QTranslator>

// The program's texts and Qt's own (dialog buttons and the like) in the language of a locale,
// installed into the application for as long as this object lives. English needs nothing: it is
// the language the texts are written in.
class Translations
{
public:
    explicit Translations(const QLocale &locale = QLocale());
    ~Translations();
    Translations(const Translations &) = delete;
    Translations &operator=(const Translations &) = delete;

    // Whether the program's own texts were found for the locale.
    bool loaded() const { return m_ownLoaded; }

private:
    QTranslator m_qt;
    QTranslator m_own;
    bool m_qtLoaded = false;
    bool m_ownLoaded = false;
};
