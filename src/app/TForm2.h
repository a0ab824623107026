#pragma once

#include <QWidget>

namespace app {

// The board browser window. Created hidden at start; the photo command shows it.
// For now an empty window: the web view arrives with the browser host.
class TForm2 : public QWidget {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);
};

}  // namespace app
