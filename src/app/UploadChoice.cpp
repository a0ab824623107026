#include "UploadChoice.h"

#include "dialogs/TMMOpenDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QStandardPaths>

namespace app {

namespace {

// The file patterns of one accept entry when it names pictures ("image/*",
// "image/png", ".jpg"); nothing when it names anything else.
QStringList PicturePatterns(const QString& entry)
{
    const QMimeDatabase database;
    const QString type = entry.trimmed().toLower();
    QStringList patterns;
    if (type == QLatin1String("image/*")) {
        for (const QByteArray& name : QImageReader::supportedMimeTypes())
            patterns << database.mimeTypeForName(QString::fromLatin1(name)).globPatterns();
    } else if (type.startsWith(QLatin1String("image/"))) {
        patterns = database.mimeTypeForName(type).globPatterns();
    } else if (type.startsWith(u'.') && type.size() > 1) {
        const QString suffix = type.mid(1);
        for (const QMimeType& mime : database.mimeTypesForFileName(QStringLiteral("x.") + suffix))
            if (mime.name().startsWith(QLatin1String("image/")))
                return {QStringLiteral("*.") + suffix};
    }
    return patterns;
}

}  // namespace

QString PicturesFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

TUploadChoice UploadChoiceFor(const browser::FileRequest& request, const QString& lastReduced,
                              const QString& openDialogFolder)
{
    return UploadChoiceFor(request, lastReduced.isEmpty() ? QStringList() : QStringList{lastReduced},
                           openDialogFolder);
}

TUploadChoice UploadChoiceFor(const browser::FileRequest& request, const QStringList& lastReduced,
                              const QString& openDialogFolder)
{
    TUploadChoice choice;
    choice.mode = request.mode;
    if (!lastReduced.isEmpty())
        choice.folder = QFileInfo(lastReduced.first()).absolutePath();
    else if (!openDialogFolder.isEmpty())
        choice.folder = openDialogFolder;
    else
        choice.folder = PicturesFolder();

    QStringList patterns;
    bool onlyPictures = !request.accept.isEmpty();
    for (const QString& entry : request.accept) {
        const QStringList found = PicturePatterns(entry);
        onlyPictures = onlyPictures && !found.isEmpty();
        for (const QString& pattern : found)
            if (!patterns.contains(pattern))
                patterns << pattern;
    }
    QString filter;
    if (onlyPictures)
        filter = QStringLiteral("Изображения|") + patterns.join(u';') + u'|';
    filter += QStringLiteral("Все файлы|*");
    choice.nameFilters = dialogs::QtNameFilters(filter);

    const bool picturesWanted = request.accept.isEmpty() || onlyPictures;
    if (lastReduced.isEmpty() || !picturesWanted || request.mode == browser::FileRequest::Mode::Folder)
        return choice;
    if (request.mode != browser::FileRequest::Mode::OpenMultiple) {
        choice.preselected << lastReduced.first();
        return choice;
    }
    for (const QString& photo : lastReduced)
        if (QFileInfo(photo).absolutePath() == choice.folder)
            choice.preselected << photo;
    return choice;
}

}  // namespace app
