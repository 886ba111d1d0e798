#include "KorvelApplication.h"

#include "Dialogs.h"

#include <QIcon>
#include <QLibraryInfo>

#include <stdexcept>

TKorvelApplication::TKorvelApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(ApplicationTitle);
    // Every window, the About window's picture included, shows the program's icon.
    setWindowIcon(QIcon(QStringLiteral(":/images/KorvelService.svg")));
    if (QtTranslator.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&QtTranslator);
}

bool TKorvelApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowApplicationError(error);
    } catch (...) {
        ShowApplicationError(std::runtime_error("Unknown error"));
    }
    return false;
}

void ShowApplicationError(const std::exception& error)
{
    MessageBox(QString::fromUtf8(error.what()), ApplicationTitle, MB::IconError);
}

bool RunGuarded(const std::function<void()>& command)
{
    try {
        command();
        return true;
    } catch (const std::exception& error) {
        ShowApplicationError(error);
    }
    return false;
}
