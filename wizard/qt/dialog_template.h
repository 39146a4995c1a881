#pragma once

#include <QByteArray>
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <map>
#include <string>
#include <vector>

class QWidget;

namespace quillnet {

// One control of a dialog template. Rectangles are in dialog units.
struct DialogControl {
  enum class Kind { kStatic, kEdit, kRichEdit, kCheckBox, kButton, kIpAddress, kListView };
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

// Where dialog `id` is in the program's resources: ":/dialogs/<id>.json".
QString DialogTemplatePath(int id);
// Whether the resources hold a template for dialog `id`.
bool HasDialogTemplate(int id);
// Reads a template from its JSON text. False, with the reason in `error` and `dialog` left
// alone, when the text is not a well-formed template of dialog `id`.
bool ParseDialogTemplate(const QByteArray& json, int id, DialogTemplate& dialog, QString& error);
// Reads dialog `id` from the resources. False when it is missing or malformed: `error` then
// names the file and the reason, which is also printed on stderr.
bool LoadDialogTemplate(int id, DialogTemplate& dialog, QString& error);

// One of the program's 8-bit (Latin-1) texts as Qt text.
QString Latin1(const std::string& text);

// The average character width as Windows reports it for a font (tmAveCharWidth). Newer
// fonts average over every glyph, which comes out wider than Windows' figure.
int AverageCharWidth(const QFont& font);

// The dialog font: the stand-in for "MS Shell Dlg", 8 points.
QFont DialogFont();

// A MAC address never wraps in the middle: the line breaker would break after a colon that a
// letter comes before ("02:00:5e:" / "70:4d:76"). KeepMacsWhole puts a word joiner (U+2060),
// which it never breaks at and which shows nothing, after each colon of a MAC text; the
// position `*at` in `text` is moved to where it lies in the result. WithoutJoiners takes them
// out again, for whoever reads or copies the text.
QString KeepMacsWhole(const QString& text, int* at = nullptr);
QString WithoutJoiners(QString text);

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
