#include "TPMultiImage.h"

#include <QPainter>

namespace preview {

TPMultiImage::TPMultiImage(QWidget* parent) : QWidget(parent) {}
TPMultiImage::~TPMultiImage() = default;
void TPMultiImage::Loaded() {}
void TPMultiImage::SetBounds(int, int, int, int) {}
void TPMultiImage::paintEvent(QPaintEvent*) {}
void TPMultiImage::resizeEvent(QResizeEvent*) {}
void TPMultiImage::Paint(QPainter&) {}

}  // namespace preview
