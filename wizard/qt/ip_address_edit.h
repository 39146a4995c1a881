#pragma once

#include <QFrame>
#include <QRect>
#include <QString>
#include <array>

class QKeyEvent;
class QLineEdit;

namespace quillnet {

// The IPv4 address control, as the Windows IP address control (SysIPAddress32) behaves:
// four parts of 0 to 255 with dots between them, in what looks like one sunken line edit.
// Typing fills a part and moves on after its third digit or a dot; a value above 255 is
// corrected to 255; a part shows its decimal value without leading zeros once it is full or
// loses the focus ("060" becomes "60"); the arrows, Home, End and Backspace move across the
// parts. The control is one tab stop.
class IpAddressEdit : public QFrame {
  Q_OBJECT

 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);

  // The four parts joined by dots, empty parts left empty ("192.168.1."); "" when all are empty.
  QString text() const;
  // Accepts any text: split at dots into at most four parts, each keeping its leading digits
  // (up to three) as a decimal value without leading zeros, a value above 255 made 255; parts
  // not given are empty.
  void setText(const QString& text);
  void clear();
  // Whether every part is empty.
  bool isBlank() const;
  // Whether every part holds a number.
  bool isComplete() const;
  // Part 0 to 3 (named "part0" to "part3"); nullptr for another index.
  QLineEdit* field(int index) const;
  // Focuses a part with its text selected, so that typing replaces it.
  void setFieldFocus(int index);

  QSize sizeHint() const override;

 signals:
  // The user changed a part's text: every keystroke, paste or deletion that changes it, the
  // correction to 255 included (reported once, as 255). The Windows control reports a field
  // only when it is left; the pages here check the addresses as they are typed, so every
  // change is reported at once. Never sent for setText or clear. `value` is -1 for an empty
  // part.
  void fieldChanged(int field, int value);
  // The whole text changed, by the user or the program; once per change.
  void textChanged(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  enum class Cursor { kSelectAll, kStart, kEnd };

  void FocusPart(int index, Cursor cursor);
  bool HandleKey(int index, const QKeyEvent& key);
  void OnPartEdited(int index);
  void ShowDecimal(int index);
  void LayoutParts();
  bool PartHasFocus() const;

  std::array<QLineEdit*, 4> m_parts{};
  std::array<QRect, 3> m_dots{};  // between the parts
  bool m_settingText = false;
  // The part a third digit moved the caret to, until another key or a click: a separator
  // typed there is the one that would have ended the full part, not a move of its own.
  int m_movedOnTo = -1;
};

}  // namespace quillnet
