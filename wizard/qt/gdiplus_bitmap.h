#pragma once

#include <QByteArray>
#include <QImage>
#include <QPixmap>

namespace quillnet {

// A decoded picture: the image and the pixmap made from it for display. Both null when empty.
class CGdiPlusBitmap {
 public:
  CGdiPlusBitmap() = default;
  virtual ~CGdiPlusBitmap() = default;
  CGdiPlusBitmap(const CGdiPlusBitmap&) = delete;
  CGdiPlusBitmap& operator=(const CGdiPlusBitmap&) = delete;

  const QImage& Bitmap() const { return m_bitmap; }
  const QPixmap& Handle() const { return m_hBitmap; }

 protected:
  QImage m_bitmap;
  QPixmap m_hBitmap;
};

// A picture loaded from the program's resources, kept with the compressed bytes it was decoded
// from.
class CGdiPlusBitmapResource : public CGdiPlusBitmap {
 public:
  ~CGdiPlusBitmapResource() override { Release(); }

  // Loads resource `id` of `type` (":/<type>/<id>"), decodes and converts it. False, and
  // nothing held, when it is missing, empty or cannot be decoded.
  bool Load(int id, const char* type);
  void Release();

 private:
  QByteArray m_hBuffer;
};

}  // namespace quillnet
