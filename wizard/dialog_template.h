#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <map>
#include <vector>

class QWidget;

namespace quillnet {

// One control of a dialog template. Rectangles are in dialog units.
struct DialogControl {
  enum class Kind { kStatic, kEdit, kRichEdit, kCheckBox, kButton };
  int id = -1;  // -1: a control the code never addresses
  QString name;
  Kind kind = Kind::kStatic;
  QRect rect;
  QString text;
  QStringList styles;
};

struct DialogTemplate {
  int id = 0;
  QString caption;
  QSize size;  // dialog units
  std::vector<DialogControl> controls;
};

// Reads dialog `id` from the program's resources (":/dialogs/<id>.json").
bool LoadDialogTemplate(int id, DialogTemplate& dialog);

// The average character width as Windows reports it for a font (tmAveCharWidth). Newer
// fonts average over every glyph, which comes out wider than Windows' figure.
int AverageCharWidth(const QFont& font);

// The dialog font: the stand-in for "MS Shell Dlg", 8 points.
QFont DialogFont();

// Maps dialog units to pixels through the dialog font, as Windows does: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth of its height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

  int X(int units) const;
  int Y(int units) const;
  QRect ToPixels(const QRect& units) const;
  QSize ToPixels(const QSize& units) const;
  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }

 private:
  int m_baseX;
  int m_baseY;
};

// Creates the template's controls on `parent` at their pixel rectangles, with their object
// names and texts, and returns them by id.
std::map<int, QWidget*> BuildDialog(QWidget* parent, const DialogTemplate& dialog,
                                    const DialogUnits& units);

}  // namespace quillnet
