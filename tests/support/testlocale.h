#pragma once

#include <QLocale>
#include <QTranslator>

// The languages a test pins: the English of the source texts for numbers,
// sizes and dates whatever the machine's locale says, and the program's
// Russian catalogue for the translated texts.
namespace TestLocale {

inline void pinEnglish()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

// The Russian catalogue from the program's resources, installed for as long
// as this lives. Tests that use it link flashwright_translations.
class Russian
{
public:
    Russian();
    ~Russian();
    Russian(const Russian &) = delete;
    Russian &operator=(const Russian &) = delete;

    [[nodiscard]] bool isInstalled() const { return m_installed; }

private:
    QTranslator m_translator;
    bool m_installed = false;
};

} // namespace TestLocale
