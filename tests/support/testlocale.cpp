#include "testlocale.h"

#include <QCoreApplication>

// Outside any namespace: the resource's initialiser is a global function.
static void initTranslations()
{
    Q_INIT_RESOURCE(translations);
}

namespace TestLocale {

Russian::Russian()
{
    initTranslations();
    m_installed
        = m_translator.load(QLocale(QStringLiteral("ru_RU")), QString(), QString(), QStringLiteral(":/translations"))
        && QCoreApplication::installTranslator(&m_translator);
}

Russian::~Russian()
{
    if (m_installed)
        QCoreApplication::removeTranslator(&m_translator);
}

} // namespace TestLocale
