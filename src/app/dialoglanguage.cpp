#include "app/dialoglanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace Merchalog {

bool useJapaneseStandardDialogs()
{
    // A desktop's own file dialog follows the desktop's language, not the program's.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    // The file dialog names file types in the default locale's language. The program's own
    // texts never go through the locale.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));

    auto *app = QCoreApplication::instance();
    auto *translator = new QTranslator(app);
    if (!translator->load(u"qtbase_ja"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

} // namespace Merchalog
