// Draws the wizard's pictures: the three page pictures (JPEG 135, 136, 137), the header badge
// (bitmap 1000) and the window icon (134), which is also the menu icon, drawn again at 64 and
// 128 pixels and as SVG. Run it with the res/ folder as the only argument;
// the output is committed, so the program's build does not depend on this tool's fonts.
//
//   QT_QPA_PLATFORM=offscreen quillnet_make_pictures res

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QSvgGenerator>
#include <cmath>
#include <cstdio>

#include "wizard/dialog_template.h"

namespace {

using quillnet::DialogUnits;

const QColor kDeepBlue(0x06, 0x2a, 0x66);
const QColor kBlue(0x0b, 0x4f, 0xb0);
const QColor kCyan(0x6f, 0xd6, 0xf2);
const QColor kTeal(0x16, 0xa9, 0xbd);
const QColor kPanelTop(0x0b, 0x1c, 0x36);
const QColor kPanelBottom(0x0f, 0x29, 0x4d);
const QColor kPanelText(0xdc, 0xe6, 0xf2);

QFont Face(const QString& family, int pixels, bool bold = false) {
  QFont font(family);
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

// The blue network-and-globe scene in `area`, with the globe centred at `globe`.
void DrawScene(QPainter& p, const QRectF& area, QPointF globe, double radius, bool plug) {
  QLinearGradient sky(area.topLeft(), area.bottomRight());
  sky.setColorAt(0.0, kBlue);
  sky.setColorAt(1.0, kDeepBlue);
  p.fillRect(area, sky);

  QRadialGradient glow(globe, radius * 1.9);
  glow.setColorAt(0.0, QColor(0x5c, 0xb8, 0xff, 150));
  glow.setColorAt(1.0, QColor(0x5c, 0xb8, 0xff, 0));
  p.fillRect(area, glow);

  // Network: nodes scattered over the scene, each linked to its near neighbours.
  QRandomGenerator random(1997);
  std::vector<QPointF> nodes;
  for (int i = 0; i < 26; ++i) {
    nodes.emplace_back(area.left() + random.bounded(area.width()),
                       area.top() + random.bounded(area.height()));
  }
  p.setPen(QPen(QColor(0x9f, 0xdc, 0xff, 70), 1.0));
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    for (std::size_t j = i + 1; j < nodes.size(); ++j) {
      if (QLineF(nodes[i], nodes[j]).length() < 70) p.drawLine(nodes[i], nodes[j]);
    }
  }
  p.setPen(Qt::NoPen);
  for (const QPointF& node : nodes) {
    p.setBrush(QColor(0xbf, 0xec, 0xff, 200));
    p.drawEllipse(node, 1.8, 1.8);
  }

  // Globe: a shaded sphere with meridians and parallels.
  QRadialGradient sphere(globe - QPointF(radius * 0.35, radius * 0.4), radius * 1.3);
  sphere.setColorAt(0.0, QColor(0x4f, 0xa8, 0xf0));
  sphere.setColorAt(0.6, QColor(0x15, 0x63, 0xc4));
  sphere.setColorAt(1.0, QColor(0x08, 0x33, 0x7a));
  p.setBrush(sphere);
  p.setPen(QPen(QColor(0xa8, 0xe4, 0xff, 180), 1.2));
  p.drawEllipse(globe, radius, radius);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0xc8, 0xf0, 0xff, 110), 1.0));
  for (double k : {0.25, 0.55, 0.85}) p.drawEllipse(globe, radius * k, radius);
  p.drawLine(QPointF(globe.x(), globe.y() - radius), QPointF(globe.x(), globe.y() + radius));
  for (double k : {-0.6, -0.3, 0.0, 0.3, 0.6}) {
    const double y = globe.y() + radius * k;
    const double half = radius * std::sqrt(1.0 - k * k);
    p.drawLine(QPointF(globe.x() - half, y), QPointF(globe.x() + half, y));
  }
  // Orbit of links around the globe.
  p.setPen(QPen(QColor(0x7f, 0xe0, 0xff, 160), 1.4));
  p.drawEllipse(globe, radius * 1.35, radius * 0.42);
  p.setBrush(kCyan);
  p.setPen(Qt::NoPen);
  for (double angle : {0.4, 2.2, 3.9, 5.3}) {
    p.drawEllipse(QPointF(globe.x() + radius * 1.35 * std::cos(angle),
                          globe.y() + radius * 0.42 * std::sin(angle)),
                  2.6, 2.6);
  }

  if (!plug) return;
  // An Ethernet (RJ45) plug on its cable, entering from the left edge.
  const double y = area.top() + area.height() * 0.80;
  p.setPen(Qt::NoPen);
  QLinearGradient cable(QPointF(0, y - 5), QPointF(0, y + 5));
  cable.setColorAt(0.0, QColor(0x3a, 0x9b, 0xd9));
  cable.setColorAt(1.0, QColor(0x12, 0x4f, 0x8a));
  p.setBrush(cable);
  QPainterPath wire;
  wire.moveTo(area.left(), y + 22);
  wire.cubicTo(area.left() + 30, y + 22, area.left() + 20, y, area.left() + 52, y);
  QPainterPathStroker stroker;
  stroker.setWidth(9);
  stroker.setCapStyle(Qt::FlatCap);
  p.drawPath(stroker.createStroke(wire));
  const QRectF boot(area.left() + 50, y - 8, 16, 16);
  QLinearGradient bootShade(boot.topLeft(), boot.bottomLeft());
  bootShade.setColorAt(0.0, QColor(0x5d, 0xb7, 0xe8));
  bootShade.setColorAt(1.0, QColor(0x1b, 0x6e, 0xb0));
  p.setBrush(bootShade);
  p.drawRoundedRect(boot, 3, 3);
  const QRectF body(boot.right() - 1, y - 10, 30, 20);
  QLinearGradient clear(body.topLeft(), body.bottomLeft());
  clear.setColorAt(0.0, QColor(0xf2, 0xfa, 0xff, 235));
  clear.setColorAt(1.0, QColor(0xa9, 0xcf, 0xea, 235));
  p.setBrush(clear);
  p.drawRoundedRect(body, 2, 2);
  p.setBrush(QColor(0xd9, 0xa4, 0x2b));
  for (int i = 0; i < 8; ++i) {
    p.drawRect(QRectF(body.right() - 7, body.top() + 2.5 + i * 1.95, 5, 1.1));
  }
  p.setBrush(QColor(0x9c, 0xc4, 0xe0));
  QPainterPath latch;
  latch.moveTo(body.left() + 4, body.top());
  latch.lineTo(body.right() - 9, body.top() - 4);
  latch.lineTo(body.right() - 9, body.top());
  latch.closeSubpath();
  p.drawPath(latch);
}

void DrawLogo(QPainter& p, QPointF origin, double scale, const QColor& text) {
  // The mark: a V of two slanted bars with a teal dot, then the word.
  p.setPen(Qt::NoPen);
  p.setBrush(kTeal);
  QPainterPath mark;
  mark.moveTo(origin + QPointF(0, 0) * scale);
  mark.lineTo(origin + QPointF(5, 0) * scale);
  mark.lineTo(origin + QPointF(10, 13) * scale);
  mark.lineTo(origin + QPointF(15, 0) * scale);
  mark.lineTo(origin + QPointF(20, 0) * scale);
  mark.lineTo(origin + QPointF(12.5, 18) * scale);
  mark.lineTo(origin + QPointF(7.5, 18) * scale);
  mark.closeSubpath();
  p.drawPath(mark);
  p.setBrush(QColor(0xf4, 0xb9, 0x42));
  p.drawEllipse(origin + QPointF(20.5, 16) * scale, 2.4 * scale, 2.4 * scale);
  QFont word = Face(QStringLiteral("DejaVu Sans"), static_cast<int>(std::lround(15 * scale)), true);
  word.setLetterSpacing(QFont::AbsoluteSpacing, 1.6 * scale);
  p.setFont(word);
  p.setPen(text);
  p.drawText(origin + QPointF(27, 15.5) * scale, QStringLiteral("VARNHOLT"));
}

QImage WelcomePicture(const DialogUnits& units) {
  QImage image(497, 314, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const double panel = units.X(115) - units.X(10);
  DrawScene(p, QRectF(0, 0, panel, image.height()), QPointF(panel * 0.56, 118), 58, true);

  const QRectF panelArea(panel, 0, image.width() - panel, image.height());
  QLinearGradient shade(panelArea.topLeft(), panelArea.bottomLeft());
  shade.setColorAt(0.0, kPanelTop);
  shade.setColorAt(1.0, kPanelBottom);
  p.fillRect(panelArea, shade);
  p.fillRect(QRectF(panel, 0, 3, image.height()), kTeal);

  // The texts of the page, where the page's own controls would put them.
  auto at = [&](int x, int y, int w, int h) { return QRectF(units.ToPixels(QRect(x, y, w, h))); };
  p.setPen(Qt::white);
  p.setFont(Face(QStringLiteral("DejaVu Sans"), 16, true));
  p.drawText(at(115, 8, 195, 24), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
             QStringLiteral("Welcome to the Quillnet Wizard"));
  p.setPen(kPanelText);
  const QFont body = Face(QStringLiteral("Liberation Sans"), 11);
  p.setFont(body);
  p.drawText(at(115, 54, 195, 20), Qt::TextWordWrap,
             QStringLiteral("This wizard will take you through Assigning an IP address to a "
                            "Varnholt Ethernet device.  The steps include:"));
  const struct {
    int y;
    int height;
    const char* text;
  } steps[] = {
      {77, 22, "Listen for requests, and select the MAC address of the device to be assigned an IP address."},
      {100, 8, "Enter the IP address Information."},
      {115, 8, "Assign the IP address to the device."},
  };
  for (const auto& step : steps) {
    p.setPen(Qt::NoPen);
    p.setBrush(kTeal);
    const QRectF row = at(118, step.y, 9, 8);
    p.drawEllipse(QPointF(row.left() + 3.5, row.top() + row.height() / 2 + 0.5), 2.6, 2.6);
    p.setPen(kPanelText);
    p.drawText(at(127, step.y, 183, step.height + 4), Qt::TextWordWrap,
               QString::fromLatin1(step.text));
  }
  // A thin rule above the maker's logo, right of "To continue, click Next.".
  DrawLogo(p, QPointF(units.X(208), units.Y(145)), 1.05, Qt::white);
  p.setPen(QPen(QColor(0x2c, 0x4f, 0x7c), 1));
  p.drawLine(QPointF(panel + 12, units.Y(170)), QPointF(image.width() - 10, units.Y(170)));
  return image;
}

QImage EndPicture(bool success) {
  QImage image(164, 314, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DrawScene(p, QRectF(image.rect()), QPointF(70, 96), 52, true);

  const QPointF centre(82, 186);
  const double radius = 38;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawEllipse(centre + QPointF(0, 3), radius, radius);
  QRadialGradient disc(centre - QPointF(12, 14), radius * 1.5);
  disc.setColorAt(0.0, success ? QColor(0x6c, 0xe0, 0x7a) : QColor(0xff, 0x74, 0x6a));
  disc.setColorAt(1.0, success ? QColor(0x17, 0x8f, 0x34) : QColor(0xb3, 0x1b, 0x1b));
  p.setBrush(disc);
  p.drawEllipse(centre, radius, radius);
  p.setPen(QPen(QColor(255, 255, 255, 230), 2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, radius - 3, radius - 3);

  QPen stroke(Qt::white, 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(stroke);
  if (success) {
    QPainterPath check;
    check.moveTo(centre + QPointF(-18, 1));
    check.lineTo(centre + QPointF(-5, 14));
    check.lineTo(centre + QPointF(19, -13));
    p.drawPath(check);
  } else {
    p.drawLine(centre + QPointF(-14, -14), centre + QPointF(14, 14));
    p.drawLine(centre + QPointF(14, -14), centre + QPointF(-14, 14));
  }
  DrawLogo(p, QPointF(18, 282), 0.8, Qt::white);
  return image;
}

void DrawBadge(QPainter& p, const QRectF& disc, int letterPixels) {
  p.setPen(Qt::NoPen);
  QRadialGradient shade(disc.center() - QPointF(disc.width() * 0.2, disc.height() * 0.25),
                        disc.width() * 0.75);
  shade.setColorAt(0.0, QColor(0x3f, 0xcf, 0xdf));
  shade.setColorAt(1.0, QColor(0x0b, 0x7a, 0x8c));
  p.setBrush(shade);
  p.drawEllipse(disc);
  p.setPen(QPen(QColor(255, 255, 255, 190), 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(disc.adjusted(2.5, 2.5, -2.5, -2.5));
  const QFont font = Face(QStringLiteral("DejaVu Sans"), letterPixels, true);
  if (p.paintEngine()->type() == QPaintEngine::SVG) {
    // As outlines, so that the SVG looks the same where that font is not installed.
    QPainterPath letters;
    letters.addText(0, 0, font, QStringLiteral("IP"));
    const QFontMetricsF metrics(font);
    const QPointF baseline(disc.center().x() - metrics.horizontalAdvance(QStringLiteral("IP")) / 2,
                           disc.center().y() + (metrics.ascent() - metrics.descent()) / 2);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(letters.translated(baseline));
    return;
  }
  p.setPen(Qt::white);
  p.setFont(font);
  p.drawText(disc, Qt::AlignCenter, QStringLiteral("IP"));
}

QImage HeaderBadge() {
  QImage image(49, 49, QImage::Format_RGB888);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DrawBadge(p, QRectF(2, 2, 45, 45), 17);
  return image;
}

// The icon as drawn on its 48-pixel grid; larger sizes scale the painter.
void DrawWindowIcon(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient tile(QPointF(0, 0), QPointF(0, 48));
  tile.setColorAt(0.0, kBlue);
  tile.setColorAt(1.0, kDeepBlue);
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(1, 1, 46, 46), 9, 9);
  p.setPen(QPen(QColor(0xc8, 0xf0, 0xff, 170), 1.2));
  p.setBrush(Qt::NoBrush);
  const QPointF globe(20, 20);
  p.drawEllipse(globe, 14, 14);
  p.drawEllipse(globe, 6, 14);
  p.drawLine(QPointF(6, 20), QPointF(34, 20));
  DrawBadge(p, QRectF(22, 22, 24, 24), 10);
}

QImage WindowIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.scale(size / 48.0, size / 48.0);
  DrawWindowIcon(p);
  return image;
}

bool SaveScalableIcon(const QString& path) {
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize(QSize(48, 48));
  svg.setViewBox(QRect(0, 0, 48, 48));
  svg.setTitle(QStringLiteral("Quillnet"));
  QPainter p;
  if (!p.begin(&svg)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  DrawWindowIcon(p);
  return p.end();
}

bool Save(const QImage& image, const QString& path, const char* format, int quality = -1) {
  if (image.save(path, format, quality)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <res folder>\n", argv[0]);
    return 2;
  }
  const QDir res(QString::fromLocal8Bit(argv[1]));
  const DialogUnits units(quillnet::DialogFont());
  bool ok = Save(WelcomePicture(units), res.filePath("pictures/welcome-135.jpg"), "JPEG", 92);
  ok = Save(EndPicture(true), res.filePath("pictures/completion-136.jpg"), "JPEG", 92) && ok;
  ok = Save(EndPicture(false), res.filePath("pictures/failure-137.jpg"), "JPEG", 92) && ok;
  ok = Save(HeaderBadge(), res.filePath("bitmaps/1000.bmp"), "BMP") && ok;
  ok = Save(WindowIcon(48), res.filePath("icons/quillnet.png"), "PNG") && ok;
  for (const int size : {64, 128}) {
    ok = Save(WindowIcon(size), res.filePath(QStringLiteral("icons/quillnet-%1.png").arg(size)),
              "PNG") &&
         ok;
  }
  ok = SaveScalableIcon(res.filePath("icons/quillnet.svg")) && ok;
  std::printf("dialog base units %d x %d\n", units.BaseX(), units.BaseY());
  return ok ? 0 : 1;
}
