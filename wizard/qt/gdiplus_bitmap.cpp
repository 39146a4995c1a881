#include "wizard/qt/gdiplus_bitmap.h"

#include <QFile>

namespace quillnet {

bool CGdiPlusBitmapResource::Load(int id, const char* type) {
  Release();
  QFile resource(QStringLiteral(":/%1/%2").arg(QString::fromLatin1(type)).arg(id));
  if (!resource.open(QIODevice::ReadOnly)) return false;
  m_hBuffer = resource.readAll();
  if (m_hBuffer.isEmpty()) return false;
  // The resource type names the format, so a file that merely looks like another is refused.
  if (!m_bitmap.loadFromData(m_hBuffer, type) || m_bitmap.isNull()) {
    Release();
    return false;
  }
  m_hBitmap = QPixmap::fromImage(m_bitmap);
  if (m_hBitmap.isNull()) {
    Release();
    return false;
  }
  return true;
}

void CGdiPlusBitmapResource::Release() {
  m_bitmap = QImage();
  m_hBitmap = QPixmap();
  m_hBuffer.clear();
}

}  // namespace quillnet
