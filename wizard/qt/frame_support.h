#pragma once

#include <QString>
#include <string>

class QWidget;

namespace quillnet {

// One of the pages' UTF-8 texts as Qt text.
QString Text(const std::string& text);

// A white background, as the exterior pages and the header band have.
void PaintWhite(QWidget* widget);

}  // namespace quillnet
