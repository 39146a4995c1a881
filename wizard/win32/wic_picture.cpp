#include "wizard/win32/wic_picture.h"

#include <objbase.h>
#include <wincodec.h>

namespace quillnet {
namespace {

// Releases a COM interface when it goes.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (m_pointer != nullptr) m_pointer->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** Out() { return &m_pointer; }
  T* operator->() const { return m_pointer; }
  T* Get() const { return m_pointer; }

 private:
  T* m_pointer = nullptr;
};

}  // namespace

HBITMAP LoadPictureResource(HMODULE module, int id, const wchar_t* type,
                            const std::function<SIZE(SIZE stored)>& size) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return nullptr;
  const DWORD bytesSize = ::SizeofResource(module, found);
  HGLOBAL loaded = ::LoadResource(module, found);
  void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr || bytesSize == 0) return nullptr;

  ComPtr<IWICImagingFactory> factory;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out())))) {
    return nullptr;
  }
  // The resource stays mapped for the module's life, so the stream reads it where it is.
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  UINT storedWidth = 0;
  UINT storedHeight = 0;
  if (FAILED(factory->CreateStream(stream.Out())) ||
      FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(bytes), bytesSize)) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.Out())) ||
      FAILED(decoder->GetFrame(0, frame.Out())) ||
      FAILED(frame->GetSize(&storedWidth, &storedHeight)) || storedWidth == 0 || storedHeight == 0) {
    return nullptr;
  }
  const SIZE shown = size(SIZE{static_cast<LONG>(storedWidth), static_cast<LONG>(storedHeight)});
  if (shown.cx <= 0 || shown.cy <= 0 || FAILED(factory->CreateFormatConverter(converter.Out())) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  const UINT width = storedWidth;
  const UINT height = storedHeight;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as WIC gives the rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(pixels)))) {
    ::DeleteObject(bitmap);
    return nullptr;
  }
  if (shown.cx == static_cast<LONG>(width) && shown.cy == static_cast<LONG>(height)) return bitmap;
  // Scaled by the system's halftone stretch, which averages the pixels it takes together.
  info.bmiHeader.biWidth = shown.cx;
  info.bmiHeader.biHeight = -shown.cy;
  void* scaledPixels = nullptr;
  HBITMAP scaled = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &scaledPixels, nullptr, 0);
  HDC target = ::CreateCompatibleDC(nullptr);
  if (scaled == nullptr || target == nullptr) {
    if (scaled != nullptr) ::DeleteObject(scaled);
    if (target != nullptr) ::DeleteDC(target);
    return bitmap;
  }
  HGDIOBJ before = ::SelectObject(target, scaled);
  ::SetStretchBltMode(target, HALFTONE);
  ::SetBrushOrgEx(target, 0, 0, nullptr);
  BITMAPINFO source = info;
  source.bmiHeader.biWidth = static_cast<LONG>(width);
  source.bmiHeader.biHeight = -static_cast<LONG>(height);
  ::StretchDIBits(target, 0, 0, shown.cx, shown.cy, 0, 0, static_cast<int>(width), static_cast<int>(height),
                  pixels, &source, DIB_RGB_COLORS, SRCCOPY);
  ::SelectObject(target, before);
  ::DeleteDC(target);
  ::DeleteObject(bitmap);
  return scaled;
}

}  // namespace quillnet
