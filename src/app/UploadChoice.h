#pragma once

#include "browser/WebControl.h"

#include <QString>
#include <QStringList>

namespace app {

// The user's pictures folder when it exists, else home.
[[nodiscard]] QString PicturesFolder();

// How the upload helper's file dialog opens for a page's file input.
struct TUploadChoice {
    browser::FileRequest::Mode mode = browser::FileRequest::Mode::Open;
    QString folder;
    // Chosen when the dialog opens: the last reduced photo, when the input
    // takes pictures.
    QStringList preselected;
    // Qt's name filters, the first one in force.
    QStringList nameFilters;
};

// The dialog for `request`: in the folder of `lastReduced`, else
// `openDialogFolder`, else the user's pictures folder when it exists, else
// home; pictures only when every accepted type is a picture type, all files
// otherwise (and always as the second choice).
[[nodiscard]] TUploadChoice UploadChoiceFor(const browser::FileRequest& request, const QString& lastReduced,
                                            const QString& openDialogFolder);

}  // namespace app
