#include "TApplication.h"

#include "platform/Exception.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

namespace app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Not the display name: on Linux that would be appended to every window caption.
    setApplicationName(QStringLiteral("snimkorez"));
    // The whole interface is Russian, Qt's own dialogs and buttons included,
    // whatever the desktop's language.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    for (const char* catalogue : {"qtbase_ru", "qtmultimedia_ru", "qtwebengine_ru"}) {
        auto* translator = new QTranslator(this);
        if (translator->load(QString::fromLatin1(catalogue), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            installTranslator(translator);
        else
            delete translator;
    }
}

QString TApplication::Title()
{
    return QStringLiteral("Лето - это отдых в Крыму!");
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowErrorMessage(QString());
    }
    return false;
}

void TApplication::ShowException(const std::exception& error)
{
    if (const auto* own = dynamic_cast<const platform::Exception*>(&error))
        ShowErrorMessage(own->Message());
    else
        ShowErrorMessage(QString::fromUtf8(error.what()));
}

void TApplication::ShowErrorMessage(const QString& message)
{
    QMessageBox box(QMessageBox::Critical, Title(), FormatErrorMessage(message), QMessageBox::Ok);
    box.exec();
}

void TApplication::ShowMessage(const QString& message)
{
    QMessageBox box(QMessageBox::NoIcon, Title(), message, QMessageBox::Ok);
    box.exec();
}

QString TApplication::FormatErrorMessage(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

void TApplication::HandleEvent(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowErrorMessage(QString());
    }
}

}  // namespace app
