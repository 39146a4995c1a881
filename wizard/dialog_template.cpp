#include "wizard/dialog_template.h"

#include <QCheckBox>
#include <QFile>
#include <QFontMetricsF>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

namespace quillnet {
namespace {

bool ReadKind(const QString& text, DialogControl::Kind& kind) {
  static const std::map<QString, DialogControl::Kind> kinds = {
      {"static", DialogControl::Kind::kStatic},     {"edit", DialogControl::Kind::kEdit},
      {"richedit", DialogControl::Kind::kRichEdit}, {"checkbox", DialogControl::Kind::kCheckBox},
      {"button", DialogControl::Kind::kButton}};
  const auto found = kinds.find(text);
  if (found == kinds.end()) return false;
  kind = found->second;
  return true;
}

QRect ReadRect(const QJsonArray& values) {
  return QRect(values.at(0).toInt(), values.at(1).toInt(), values.at(2).toInt(),
               values.at(3).toInt());
}

// As MulDiv in MapDialogRect: units * base / 4 (or / 8), rounded half away from zero.
int Scale(int units, int base, int divisor) {
  const int product = units * base;
  return product >= 0 ? (product + divisor / 2) / divisor : -((-product + divisor / 2) / divisor);
}

}  // namespace

bool LoadDialogTemplate(int id, DialogTemplate& dialog) {
  QFile file(QStringLiteral(":/dialogs/%1.json").arg(id));
  if (!file.open(QIODevice::ReadOnly)) return false;
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return false;
  const QJsonObject root = document.object();
  DialogTemplate result;
  result.id = root.value("id").toInt();
  result.caption = root.value("caption").toString();
  const QJsonArray size = root.value("size").toArray();
  result.size = QSize(size.at(0).toInt(), size.at(1).toInt());
  for (const QJsonValue& entry : root.value("controls").toArray()) {
    const QJsonObject object = entry.toObject();
    DialogControl control;
    control.id = object.value("id").toInt(-1);
    control.name = object.value("name").toString();
    if (!ReadKind(object.value("kind").toString(), control.kind)) return false;
    control.rect = ReadRect(object.value("rect").toArray());
    control.text = object.value("text").toString();
    for (const QJsonValue& style : object.value("style").toArray()) {
      control.styles.append(style.toString());
    }
    result.controls.push_back(control);
  }
  dialog = result;
  return result.id == id;
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
        auto* edit = new QTextEdit(parent);
        edit->setReadOnly(control.styles.contains("readonly"));
        edit->setAcceptRichText(false);
        edit->setVerticalScrollBarPolicy(control.styles.contains("vscroll")
                                             ? Qt::ScrollBarAsNeeded
                                             : Qt::ScrollBarAlwaysOff);
        edit->setPlainText(control.text);
        widget = edit;
        break;
      }
      case DialogControl::Kind::kCheckBox:
        widget = new QCheckBox(control.text, parent);
        break;
      case DialogControl::Kind::kButton:
        widget = new QPushButton(control.text, parent);
        break;
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
