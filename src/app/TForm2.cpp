#include "TForm2.h"

namespace app {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window)
{
    resize(800, 600);
}

}  // namespace app
