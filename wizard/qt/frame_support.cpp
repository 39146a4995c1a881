#include "wizard/qt/frame_support.h"

#include <QPalette>
#include <QWidget>

namespace quillnet {

void PaintWhite(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, Qt::white);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace quillnet
