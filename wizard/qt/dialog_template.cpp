#include "wizard/qt/dialog_template.h"

#include <QCheckBox>
#include <QFile>
#include <QFontMetricsF>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMimeData>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTreeView>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

#include "wizard/qt/ip_address_edit.h"

namespace quillnet {
namespace {

bool ReadKind(const QString& text, DialogControl::Kind& kind) {
  static const std::map<QString, DialogControl::Kind> kinds = {
      {"static", DialogControl::Kind::kStatic},
      {"edit", DialogControl::Kind::kEdit},
      {"richedit", DialogControl::Kind::kRichEdit},
      {"checkbox", DialogControl::Kind::kCheckBox},
      {"button", DialogControl::Kind::kButton},
      {"ipaddress", DialogControl::Kind::kIpAddress},
      {"listview", DialogControl::Kind::kListView}};
  const auto found = kinds.find(text);
  if (found == kinds.end()) return false;
  kind = found->second;
  return true;
}

// Whole numbers only: an id or a coordinate with a fraction or text in it is a typing error.
bool ReadInt(const QJsonValue& value, int& number) {
  const double real = value.toDouble();
  if (!value.isDouble() || real != std::floor(real) || std::fabs(real) > 1e6) return false;
  number = static_cast<int>(real);
  return true;
}

// [x, y, width, height] in dialog units.
bool ReadRect(const QJsonValue& value, QRect& rect) {
  const QJsonArray array = value.toArray();
  if (!value.isArray() || array.size() != 4) return false;
  int numbers[4] = {};
  for (qsizetype index = 0; index < 4; ++index) {
    if (!ReadInt(array.at(index), numbers[index])) return false;
  }
  rect = QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
  return true;
}

// How a message names a control: by its name, else by its place in the list.
QString ControlLabel(const QJsonObject& object, qsizetype index) {
  const QString name = object.value("name").toString();
  return name.isEmpty() ? QStringLiteral("control %1").arg(index)
                        : QStringLiteral("control \"%1\"").arg(name);
}

// As MulDiv in MapDialogRect: units * base / 4 (or / 8), rounded half away from zero.
int Scale(int units, int base, int divisor) {
  const int product = units * base;
  return product >= 0 ? (product + divisor / 2) / divisor : -((-product + divisor / 2) / divisor);
}

}  // namespace

QString DialogTemplatePath(int id) { return QStringLiteral(":/dialogs/%1.json").arg(id); }

bool HasDialogTemplate(int id) { return QFile::exists(DialogTemplatePath(id)); }

bool ParseDialogTemplate(const QByteArray& json, int id, DialogTemplate& dialog, QString& error) {
  QJsonParseError parseError{};
  const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    error = QStringLiteral("not JSON: %1 at offset %2")
                .arg(parseError.errorString())
                .arg(parseError.offset);
    return false;
  }
  if (!document.isObject()) {
    error = QStringLiteral("not a JSON object");
    return false;
  }
  const QJsonObject root = document.object();
  DialogTemplate result;
  if (!ReadInt(root.value("id"), result.id)) {
    error = QStringLiteral("no dialog id");
    return false;
  }
  if (result.id != id) {
    error = QStringLiteral("holds dialog %1, not %2").arg(result.id).arg(id);
    return false;
  }
  result.caption = root.value("caption").toString();
  const QJsonArray size = root.value("size").toArray();
  result.size = QSize(size.at(0).toInt(), size.at(1).toInt());
  if (!root.value("controls").isArray()) {
    error = QStringLiteral("no list of controls");
    return false;
  }
  const QJsonArray controls = root.value("controls").toArray();
  std::set<int> ids;
  for (qsizetype index = 0; index < controls.size(); ++index) {
    const QJsonObject object = controls.at(index).toObject();
    const QString label = ControlLabel(object, index);
    if (!controls.at(index).isObject()) {
      error = QStringLiteral("%1 is not an object").arg(label);
      return false;
    }
    DialogControl control;
    if (object.contains("id") && !ReadInt(object.value("id"), control.id)) {
      error = QStringLiteral("%1 has an id that is not a whole number").arg(label);
      return false;
    }
    // The code finds controls by id; a second control with the same id would hide the first.
    if (control.id != -1 && !ids.insert(control.id).second) {
      error = QStringLiteral("%1 repeats the id %2").arg(label).arg(control.id);
      return false;
    }
    control.name = object.value("name").toString();
    if (!ReadKind(object.value("kind").toString(), control.kind)) {
      error = QStringLiteral("%1 has the unknown kind \"%2\"")
                  .arg(label, object.value("kind").toString());
      return false;
    }
    if (!ReadRect(object.value("rect"), control.rect)) {
      error = QStringLiteral("%1 has a rect that is not [x, y, width, height]").arg(label);
      return false;
    }
    control.text = object.value("text").toString();
    for (const QJsonValue& style : object.value("style").toArray()) {
      control.styles.append(style.toString());
    }
    result.controls.push_back(control);
  }
  dialog = std::move(result);
  return true;
}

bool LoadDialogTemplate(int id, DialogTemplate& dialog, QString& error) {
  const QString path = DialogTemplatePath(id);
  QFile file(path);
  QString reason;
  if (!file.exists()) {
    reason = QStringLiteral("missing");
  } else if (!file.open(QIODevice::ReadOnly)) {
    reason = file.errorString();
  } else if (ParseDialogTemplate(file.readAll(), id, dialog, reason)) {
    return true;
  }
  error = QStringLiteral("%1: %2").arg(path, reason);
  std::fprintf(stderr, "Quillnet: cannot load the dialog template %s\n", qPrintable(error));
  return false;
}

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

int AverageCharWidth(const QFont& font) {
  // The weights of the original OS/2 xAvgCharWidth, which GDI reports as tmAveCharWidth:
  // lower-case letters by their frequency in English text, and the blank.
  static constexpr int kWeights[26] = {64, 14, 27, 35, 100, 20, 14, 42, 63, 3, 6, 35, 20,
                                       56, 56, 17, 4,  49, 56, 71,  31, 10, 18, 3, 18, 2};
  constexpr int kBlankWeight = 166;
  const QFontMetricsF metrics(font);
  double sum = kBlankWeight * metrics.horizontalAdvance(QLatin1Char(' '));
  for (int letter = 0; letter < 26; ++letter) {
    sum += kWeights[letter] * metrics.horizontalAdvance(QLatin1Char(static_cast<char>('a' + letter)));
  }
  return static_cast<int>(std::lround(sum / 1000.0));
}

QFont DialogFont() {
  // Liberation Sans is metric-compatible with Arial and close to the Windows dialog faces.
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  // As GetTextExtentPoint32 over the 52 letters: their mean width, rounded.
  // The height is the character cell, ascent and descent each rounded up, as GDI's tmHeight.
  const QFontMetricsF metrics(font);
  const int letters = static_cast<int>(std::lround(metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))));
  m_baseX = (letters / 26 + 1) / 2;
  m_baseY = static_cast<int>(std::ceil(metrics.ascent()) + std::ceil(metrics.descent()));
}

int DialogUnits::X(int units) const { return Scale(units, m_baseX, 4); }
int DialogUnits::Y(int units) const { return Scale(units, m_baseY, 8); }

QRect DialogUnits::ToPixels(const QRect& units) const {
  return QRect(X(units.x()), Y(units.y()), X(units.width()), Y(units.height()));
}

QSize DialogUnits::ToPixels(const QSize& units) const {
  return QSize(X(units.width()), Y(units.height()));
}

constexpr QChar kWordJoiner(0x2060);

QString KeepMacsWhole(const QString& text, int* at) {
  static const QRegularExpression kMac(
      QStringLiteral("(?<![0-9A-Fa-f:])[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}(?![0-9A-Fa-f:])"));
  QString result;
  int from = 0;
  int moved = at != nullptr ? *at : 0;
  for (auto matches = kMac.globalMatch(text); matches.hasNext();) {
    const QRegularExpressionMatch match = matches.next();
    result += text.mid(from, match.capturedStart() - from);
    for (qsizetype index = match.capturedStart(); index < match.capturedEnd(); ++index) {
      result += text[index];
      if (text[index] != u':' || index + 1 == match.capturedEnd()) continue;
      result += kWordJoiner;
      if (at != nullptr && index < *at) ++moved;
    }
    from = static_cast<int>(match.capturedEnd());
  }
  result += text.mid(from);
  if (at != nullptr) *at = moved;
  return result;
}

QString WithoutJoiners(QString text) { return text.remove(kWordJoiner); }

namespace {

// A summary copies its text as it reads, without the joiners that keep MAC addresses whole.
class SummaryEdit final : public QTextEdit {
 public:
  using QTextEdit::QTextEdit;

 protected:
  QMimeData* createMimeDataFromSelection() const override {
    QMimeData* data = QTextEdit::createMimeDataFromSelection();
    if (data->hasHtml()) data->setHtml(WithoutJoiners(data->html()));
    data->setText(WithoutJoiners(data->text()));
    return data;
  }
};

// A one-pixel frame in the style's outline grey. The style's own frame is lost at fractional
// scales (QT_FONT_DPI 120 or 144), leaving a list or a summary without its edge.
void PlainFrame(QFrame* frame) {
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  frame->setLineWidth(1);
  QPalette palette = frame->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Window).darker(140));
  frame->setPalette(palette);
}

}  // namespace

std::map<int, QWidget*> BuildDialog(QWidget* parent, const DialogTemplate& dialog,
                                    const DialogUnits& units) {
  std::map<int, QWidget*> byId;
  for (const DialogControl& control : dialog.controls) {
    QWidget* widget = nullptr;
    switch (control.kind) {
      case DialogControl::Kind::kStatic: {
        auto* label = new QLabel(control.text, parent);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // Statics of two lines or more wrap at word boundaries, as on Windows. A one-line
        // static keeps its text on one line, even where this font runs a little wider.
        label->setWordWrap(control.rect.height() >= 16);
        widget = label;
        break;
      }
      case DialogControl::Kind::kEdit: {
        auto* edit = new QLineEdit(control.text, parent);
        edit->setReadOnly(control.styles.contains("readonly"));
        edit->setFrame(!control.styles.contains("noborder"));
        if (!edit->hasFrame()) edit->setTextMargins(-2, 0, 0, 0);
        widget = edit;
        break;
      }
      case DialogControl::Kind::kRichEdit: {
        auto* edit = new SummaryEdit(parent);
        edit->setReadOnly(control.styles.contains("readonly"));
        edit->setAcceptRichText(false);
        edit->setVerticalScrollBarPolicy(control.styles.contains("vscroll")
                                             ? Qt::ScrollBarAsNeeded
                                             : Qt::ScrollBarAlwaysOff);
        // A control that scrolls sideways keeps its lines whole.
        if (control.styles.contains("hscroll")) {
          edit->setLineWrapMode(QTextEdit::NoWrap);
          edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        }
        edit->setPlainText(control.text);
        PlainFrame(edit);
        widget = edit;
        break;
      }
      case DialogControl::Kind::kCheckBox:
        widget = new QCheckBox(control.text, parent);
        break;
      case DialogControl::Kind::kButton:
        widget = new QPushButton(control.text, parent);
        break;
      case DialogControl::Kind::kIpAddress:
        widget = new IpAddressEdit(parent);
        break;
      case DialogControl::Kind::kListView: {
        // The page sets up its columns and selection.
        auto* view = new QTreeView(parent);
        PlainFrame(view);
        widget = view;
        break;
      }
    }
    // A read-only field is a tab stop only when its template says so; the keyboard starts on
    // what the user can change.
    if (control.styles.contains("readonly") && !control.styles.contains("tabstop")) {
      widget->setFocusPolicy(Qt::ClickFocus);
    }
    widget->setObjectName(control.name);
    widget->setProperty("controlId", control.id);
    QRect rect = units.ToPixels(control.rect);
    if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !label->wordWrap()) {
      rect.setWidth(std::max(rect.width(), label->sizeHint().width()));
    }
    widget->setGeometry(rect);
    if (control.id != -1) byId[control.id] = widget;
  }
  return byId;
}

}  // namespace quillnet
