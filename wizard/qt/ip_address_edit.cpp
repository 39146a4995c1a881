#include "wizard/qt/ip_address_edit.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>
#include <algorithm>

namespace quillnet {
namespace {

constexpr int kParts = 4;
constexpr int kPartLength = 3;
constexpr int kMaxValue = 255;
// QLineEdit's own margins around its text, which it adds to its size hint.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;

bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// A part's decimal value as text, without leading zeros ("060" gives "60", "000" gives "0");
// an empty part stays empty.
QString DecimalText(const QString& digits) {
  return digits.isEmpty() ? digits : QString::number(digits.toInt());
}

// Up to three digits. A larger value becomes 255, as the Windows control corrects it; the line
// edit takes the corrected text in place of the typed one, so its users only ever see 255.
class PartValidator : public QValidator {
 public:
  using QValidator::QValidator;

  State validate(QString& input, int& position) const override {
    if (input.size() > kPartLength || !std::all_of(input.begin(), input.end(), IsDigit)) {
      return Invalid;
    }
    if (!input.isEmpty() && input.toInt() > kMaxValue) {
      input = QString::number(kMaxValue);
      position = std::min<int>(position, input.size());
    }
    return Acceptable;
  }
};

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed, QSizePolicy::LineEdit));
  auto* validator = new PartValidator(this);
  for (int index = 0; index < kParts; ++index) {
    auto* part = new QLineEdit(this);
    part->setObjectName(QStringLiteral("part%1").arg(index));
    part->setFrame(false);
    // The control paints one line edit's panel, frame and focus ring; the parts draw only
    // their text over it.
    QPalette palette = part->palette();
    palette.setBrush(QPalette::Base, Qt::transparent);
    part->setPalette(palette);
    part->setMaxLength(kPartLength);
    part->setValidator(validator);
    part->setAlignment(Qt::AlignCenter);
    part->setInputMethodHints(Qt::ImhDigitsOnly);
    // Only part 0 is a tab stop: Tab moves past the whole control, as on Windows.
    if (index > 0) part->setFocusPolicy(Qt::ClickFocus);
    part->installEventFilter(this);
    connect(part, &QLineEdit::textEdited, this, [this, index] { OnPartEdited(index); });
    connect(part, &QLineEdit::textChanged, this, [this] {
      if (!m_settingText) emit textChanged(text());
    });
    m_parts[index] = part;
  }
  setFocusProxy(m_parts[0]);
  LayoutParts();
}

QString IpAddressEdit::text() const {
  if (isBlank()) return QString();
  QStringList parts;
  for (const QLineEdit* part : m_parts) parts.append(part->text());
  return parts.join(u'.');
}

void IpAddressEdit::setText(const QString& text) {
  const QString before = this->text();
  const QStringList pieces = text.split(u'.');
  m_settingText = true;
  for (int index = 0; index < kParts; ++index) {
    QString digits;
    if (index < pieces.size()) {
      for (QChar c : pieces[index]) {
        if (!IsDigit(c) || digits.size() == kPartLength) break;
        digits.append(c);
      }
    }
    // The validator makes a value above 255 into 255.
    m_parts[index]->setText(DecimalText(digits));
  }
  m_settingText = false;
  const QString after = this->text();
  if (after != before) emit textChanged(after);
}

void IpAddressEdit::clear() { setText(QString()); }

bool IpAddressEdit::isBlank() const {
  return std::all_of(m_parts.begin(), m_parts.end(),
                     [](const QLineEdit* part) { return part->text().isEmpty(); });
}

bool IpAddressEdit::isComplete() const {
  return std::none_of(m_parts.begin(), m_parts.end(),
                      [](const QLineEdit* part) { return part->text().isEmpty(); });
}

QLineEdit* IpAddressEdit::field(int index) const {
  return index >= 0 && index < kParts ? m_parts[index] : nullptr;
}

void IpAddressEdit::setFieldFocus(int index) {
  if (index >= 0 && index < kParts) FocusPart(index, Cursor::kSelectAll);
}

QSize IpAddressEdit::sizeHint() const {
  // Worked out as QLineEdit works out its own, so that both stand the same height.
  ensurePolished();
  const QFontMetrics metrics(font());
  const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
  const int height = std::max(metrics.height(), std::max(14, iconSize - 2)) + 2 * kVerticalMargin;
  const int width = metrics.horizontalAdvance(u'x') * 17 + 2 * kHorizontalMargin;
  QStyleOptionFrame option;
  option.initFrom(this);
  option.lineWidth = frameWidth();
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  return style()->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(width, height), this);
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
  const auto found = std::find(m_parts.begin(), m_parts.end(), watched);
  if (found == m_parts.end()) return QFrame::eventFilter(watched, event);
  const int index = static_cast<int>(found - m_parts.begin());
  switch (event->type()) {
    case QEvent::KeyPress:
      return HandleKey(index, *static_cast<QKeyEvent*>(event));
    case QEvent::FocusOut:
      // A part left shows the value it stands for, as a full one does.
      ShowDecimal(index);
      update();
      break;
    case QEvent::FocusIn:
      update();  // the frame shows whether the control has the focus
      break;
    case QEvent::MouseButtonPress:
      m_movedOnTo = -1;
      break;
    default:
      break;
  }
  return QFrame::eventFilter(watched, event);
}

bool IpAddressEdit::HandleKey(int index, const QKeyEvent& key) {
  // Any key but a separator ends the state a third digit's move leaves.
  const bool separator = key.key() == Qt::Key_Period || key.key() == Qt::Key_Space ||
                         key.key() == Qt::Key_Comma;
  if (!separator) m_movedOnTo = -1;
  const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
  const bool backtab = key.key() == Qt::Key_Backtab ||
                       (key.key() == Qt::Key_Tab && modifiers == Qt::ShiftModifier);
  if (backtab && index > 0 && (modifiers & ~Qt::ShiftModifier) == Qt::NoModifier) {
    // Going back from parts 1 to 3 would stop at part 0; leave the control as from part 0.
    const Qt::FocusPolicy policy = m_parts[0]->focusPolicy();
    m_parts[0]->setFocusPolicy(Qt::ClickFocus);
    focusNextPrevChild(false);
    m_parts[0]->setFocusPolicy(policy);
    return true;
  }
  if (modifiers != Qt::NoModifier) return false;

  QLineEdit* part = m_parts[index];
  const int cursor = part->cursorPosition();
  switch (key.key()) {
    case Qt::Key_Comma:  // the keypad's decimal key on some layouts
      if (!(key.modifiers() & Qt::KeypadModifier)) return false;
      [[fallthrough]];
    case Qt::Key_Period:
    case Qt::Key_Space:
      // A separator ends the digits just typed, or moves on from a part whose text is
      // selected. It is ignored in an empty part, and right after the move that a third digit
      // makes, so typing a whole address over a filled control never skips a part.
      if (!part->text().isEmpty() && index != m_movedOnTo && index + 1 < kParts) {
        FocusPart(index + 1, Cursor::kSelectAll);
      }
      m_movedOnTo = -1;
      return true;
    case Qt::Key_Backspace:
      if (index == 0 || !(part->text().isEmpty() || (cursor == 0 && !part->hasSelectedText()))) {
        return false;
      }
      FocusPart(index - 1, Cursor::kEnd);
      return true;
    case Qt::Key_Left:
      if (index == 0 || cursor != 0) return false;
      FocusPart(index - 1, Cursor::kEnd);
      return true;
    case Qt::Key_Right:
      if (index + 1 == kParts || cursor != part->text().size()) return false;
      FocusPart(index + 1, Cursor::kStart);
      return true;
    case Qt::Key_Home:
      FocusPart(0, Cursor::kStart);
      return true;
    case Qt::Key_End:
      // The end of this part; from there, the end of the last one.
      FocusPart(cursor == part->text().size() && !part->hasSelectedText() ? kParts - 1 : index,
                Cursor::kEnd);
      return true;
    default:
      return false;
  }
}

void IpAddressEdit::ShowDecimal(int index) {
  QLineEdit* part = m_parts[index];
  const QString decimal = DecimalText(part->text());
  if (decimal != part->text()) part->setText(decimal);
}

void IpAddressEdit::OnPartEdited(int index) {
  const QString text = m_parts[index]->text();
  // A full part shows its value at once, before anyone reads the control's text.
  if (text.size() == kPartLength) ShowDecimal(index);
  emit fieldChanged(index, text.isEmpty() ? -1 : text.toInt());
  // A full part moves on, as after a dot; so does one just corrected to 255.
  if (text.size() == kPartLength && index + 1 < kParts) {
    FocusPart(index + 1, Cursor::kSelectAll);
    m_movedOnTo = index + 1;
  }
}

void IpAddressEdit::FocusPart(int index, Cursor cursor) {
  QLineEdit* part = m_parts[index];
  part->setFocus(Qt::OtherFocusReason);
  switch (cursor) {
    case Cursor::kSelectAll:
      part->selectAll();
      break;
    case Cursor::kStart:
      part->setCursorPosition(0);
      break;
    case Cursor::kEnd:
      part->setCursorPosition(part->text().size());
      break;
  }
}

bool IpAddressEdit::PartHasFocus() const {
  return std::any_of(m_parts.begin(), m_parts.end(),
                     [](const QLineEdit* part) { return part->hasFocus(); });
}

void IpAddressEdit::LayoutParts() {
  // The parts share the width evenly; a dot's width lies between each two.
  const QRect area = contentsRect();
  const int gap = fontMetrics().horizontalAdvance(u'.');
  const int partsWidth = std::max(0, area.width() - (kParts - 1) * gap);
  int x = area.left();
  for (int index = 0; index < kParts; ++index) {
    const int width = partsWidth * (index + 1) / kParts - partsWidth * index / kParts;
    m_parts[index]->setGeometry(x, area.top(), width, area.height());
    x += width;
    if (index + 1 < kParts) {
      m_dots[index] = QRect(x, area.top(), gap, area.height());
      x += gap;
    }
  }
  update();
}

void IpAddressEdit::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  QStyleOptionFrame option;
  option.initFrom(this);
  option.lineWidth = frameWidth();
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  if (PartHasFocus()) option.state |= QStyle::State_HasFocus;
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);

  // The dots sit on the parts' baseline, placed as a frameless line edit centres its text.
  const QFontMetrics metrics(font());
  const int lineHeight = m_parts[0]->height() - 2 * kVerticalMargin;
  const int baseline = m_parts[0]->y() + kVerticalMargin + (lineHeight - metrics.height() + 1) / 2 +
                       metrics.ascent();
  painter.setPen(option.palette.color(QPalette::Text));
  for (const QRect& dot : m_dots) {
    painter.drawText(QPoint(dot.left(), baseline), QStringLiteral("."));
  }
}

void IpAddressEdit::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  LayoutParts();
}

void IpAddressEdit::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
    updateGeometry();
    LayoutParts();
  }
}

void IpAddressEdit::mousePressEvent(QMouseEvent* event) {
  // A click on a dot or the frame goes to the part before it.
  int index = 0;
  while (index + 1 < kParts && event->position().x() >= m_parts[index + 1]->x()) ++index;
  FocusPart(index, Cursor::kEnd);
  event->accept();
}

}  // namespace quillnet
