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
    // Chosen when the dialog opens, when the input takes pictures: the last
    // reduced photos, all of them when it takes several, else the first.
    QStringList preselected;
    // Qt's name filters, the first one in force.
    QStringList nameFilters;
};

// The dialog for `request`: in the folder of the first of `lastReduced` (the
// photos the last command wrote, in order), else `openDialogFolder`, else the
// user's pictures folder when it exists, else home; pictures only when every
// accepted type is a picture type, all files otherwise (and always as the
// second choice). A dialog shows one folder: for several files only those
// in that folder are chosen.
[[nodiscard]] TUploadChoice UploadChoiceFor(const browser::FileRequest& request, const QStringList& lastReduced,
                                            const QString& openDialogFolder);
// The same for one reduced photo (none when `lastReduced` is empty).
[[nodiscard]] TUploadChoice UploadChoiceFor(const browser::FileRequest& request, const QString& lastReduced,
                                            const QString& openDialogFolder);

}  // namespace app
