#include "wizard/qt/ip_address_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <utility>
#include <vector>

#include "wizard/qt/dialog_template.h"

namespace quillnet {
namespace {

using Place = std::pair<int, int>;  // a part and the cursor position in it

// The control between two line edits in an active window, with part 0 focused.
class IpAddressEditTest : public ::testing::Test {
 protected:
  IpAddressEditTest() {
    m_window.setFont(DialogFont());
    auto* layout = new QHBoxLayout(&m_window);
    layout->addWidget(m_before);
    layout->addWidget(m_edit);
    layout->addWidget(m_after);
    m_window.show();
    m_window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&m_window));
    m_edit->setFieldFocus(0);
  }

  // Keys go to whichever widget has the focus, as a user's do.
  static void Type(const char* keys) {
    for (; *keys != '\0'; ++keys) QTest::keyClick(QApplication::focusWidget(), *keys);
  }
  static void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }
  // Where the focus is in the control; -1 when no part has it.
  Place Where() const {
    for (int index = 0; index < 4; ++index) {
      if (m_edit->field(index)->hasFocus()) return {index, m_edit->field(index)->cursorPosition()};
    }
    return {-1, -1};
  }

  QWidget m_window;
  QLineEdit* m_before = new QLineEdit(&m_window);
  IpAddressEdit* m_edit = new IpAddressEdit(&m_window);
  QLineEdit* m_after = new QLineEdit(&m_window);
};

TEST_F(IpAddressEditTest, TypingFillsPartsAndMovesOnAfterThreeDigitsOrASeparator) {
  Type("192.168.1.20.");
  EXPECT_EQ(m_edit->text(), "192.168.1.20");
  EXPECT_EQ(Where().first, 3);

  // A separator is ignored in an empty part and ends a part with digits.
  m_edit->clear();
  m_edit->setFieldFocus(0);
  Type(".10.7 3");
  Key(Qt::Key_Period, Qt::KeypadModifier);
  EXPECT_EQ(Where().first, 3);
  EXPECT_EQ(m_edit->text(), "10.7.3.");

  // A full part moves on with the next part selected, so that typing replaces it; above 255
  // becomes 255 and moves on the same way; letters are refused.
  m_edit->setText("1.2.3.4");
  m_edit->setFieldFocus(0);
  Type("123");
  EXPECT_EQ(m_edit->field(1)->selectedText(), "2");
  Type("45");
  m_edit->setFieldFocus(2);
  Type("300");
  EXPECT_EQ(Where(), Place(3, 1));
  EXPECT_EQ(m_edit->field(3)->selectedText(), "4");
  Type("x");
  EXPECT_EQ(m_edit->text(), "123.45.255.4");

  // A whole address typed over a filled control: the separator after a part that moved on by
  // itself is not taken as a second move.
  m_edit->setText("1.2.3.4");
  m_edit->setFieldFocus(0);
  Type("192.168.10.20");
  EXPECT_EQ(m_edit->text(), "192.168.10.20");

  // A separator in a part whose text is selected moves on, as on Windows: after a Tab into
  // the control, or once another key came after a third digit's move.
  m_edit->setFieldFocus(0);
  Type(".");
  EXPECT_EQ(Where().first, 1);
  EXPECT_EQ(m_edit->field(1)->selectedText(), "168");
  Type("17");
  Key(Qt::Key_Home, Qt::ShiftModifier);
  Type(".");
  EXPECT_EQ(Where().first, 2);
  EXPECT_EQ(m_edit->text(), "192.17.10.20");
}

TEST_F(IpAddressEditTest, KeysAndClicksMoveAcrossPartsAndTabLeavesTheControl) {
  m_edit->setText("192.168.1.20");
  m_edit->setFieldFocus(2);
  m_edit->field(2)->setCursorPosition(0);
  // Backspace moves on from an empty part or the start of one, but deletes a selection first;
  // Shift+Home selects within the part.
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    Place place;
  } moves[] = {{Qt::Key_Left, {}, {1, 3}},      {Qt::Key_Right, {}, {2, 0}},
               {Qt::Key_Right, {}, {2, 1}},     {Qt::Key_Right, {}, {3, 0}},
               {Qt::Key_Home, {}, {0, 0}},      {Qt::Key_Left, {}, {0, 0}},
               {Qt::Key_End, {}, {0, 3}},       {Qt::Key_End, {}, {3, 2}},
               {Qt::Key_Right, {}, {3, 2}},
               {Qt::Key_Backspace, {}, {3, 1}}, {Qt::Key_Backspace, {}, {3, 0}},
               {Qt::Key_Backspace, {}, {2, 1}}, {Qt::Key_Left, {}, {2, 0}},
               {Qt::Key_Backspace, {}, {1, 3}}, {Qt::Key_Home, Qt::ShiftModifier, {1, 0}},
               {Qt::Key_Backspace, {}, {1, 0}}, {Qt::Key_Backspace, {}, {0, 3}}};
  for (const auto& move : moves) {
    Key(move.key, move.modifiers);
    EXPECT_EQ(Where(), move.place) << "after key " << move.key;
  }
  EXPECT_EQ(m_edit->text(), "192..1.");

  // A double click selects a part; a click on a dot goes to the part before it.
  QLineEdit* part = m_edit->field(0);
  QTest::mouseClick(part, Qt::LeftButton, {}, part->rect().center());
  QTest::mouseDClick(part, Qt::LeftButton, {}, part->rect().center());
  EXPECT_EQ(part->selectedText(), "192");
  QTest::mouseClick(m_edit, Qt::LeftButton, {}, QPoint(m_edit->field(3)->x() - 1, 5));
  EXPECT_EQ(Where(), Place(2, 1));

  // The control is a single tab stop, either way.
  Key(Qt::Key_Tab);
  EXPECT_TRUE(m_after->hasFocus());
  m_edit->setFieldFocus(2);
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(m_before->hasFocus());
  Key(Qt::Key_Tab);
  EXPECT_EQ(Where().first, 0);
}

TEST_F(IpAddressEditTest, APartShowsItsDecimalValueOnceFullOrLeft) {
  // A full part shows its value at once; one that is left, when it is left.
  Type("010.077.0.06");
  EXPECT_EQ(m_edit->text(), "10.77.0.06");
  Key(Qt::Key_Tab);
  EXPECT_EQ(m_edit->text(), "10.77.0.6");
  m_edit->setFieldFocus(3);
  Type("000");
  EXPECT_EQ(m_edit->text(), "10.77.0.0");
}

TEST_F(IpAddressEditTest, SetTextKeepsEachPartsDecimalValueAndRoundTrips) {
  QSignalSpy texts(m_edit, &IpAddressEdit::textChanged);
  m_edit->setText("192.168.1.");
  EXPECT_EQ(m_edit->field(2)->text(), "1");
  EXPECT_EQ(m_edit->field(3)->text(), "");
  m_edit->setText(m_edit->text());
  EXPECT_EQ(texts, QList<QVariantList>({{"192.168.1."}})) << "one signal per change";

  const std::vector<std::pair<QString, QString>> cases = {
      {"10.0.0.1", "10.0.0.1"}, {"1x.300.07.4.5", "1.255.7.4"}, {"1234.5", "123.5.."},
      {" 1.2", ".2.."},         {"...", ""},                     {"abc", ""}};
  for (const auto& [given, shown] : cases) {
    m_edit->setText(given);
    EXPECT_EQ(m_edit->text(), shown) << given.toStdString();
    EXPECT_EQ(m_edit->isBlank(), shown.isEmpty()) << given.toStdString();
  }
}

TEST_F(IpAddressEditTest, FieldChangedReportsEveryUserEditButNoneByTheProgram) {
  QSignalSpy fields(m_edit, &IpAddressEdit::fieldChanged);
  QSignalSpy texts(m_edit, &IpAddressEdit::textChanged);
  m_edit->setText("10.0.0.1");
  m_edit->clear();
  m_edit->setFieldFocus(1);
  Type("259");  // corrected once, to 255, and left
  for (Qt::Key key : {Qt::Key_Left, Qt::Key_Backspace, Qt::Key_Backspace, Qt::Key_Backspace}) {
    Key(key);
  }
  EXPECT_EQ(fields, QList<QVariantList>({{1, 2}, {1, 25}, {1, 255}, {1, 25}, {1, 2}, {1, -1}}));
  EXPECT_EQ(texts, QList<QVariantList>({{"10.0.0.1"}, {""}, {".2.."}, {".25.."}, {".255.."},
                                        {".25.."}, {".2.."}, {""}}));
}

TEST_F(IpAddressEditTest, StandsAsHighAsALineEditWithItsPartsSharingTheWidth) {
  QLineEdit reference;
  reference.setFont(DialogFont());
  EXPECT_EQ(m_edit->sizeHint(), reference.sizeHint());
  EXPECT_EQ(m_edit->height(), reference.sizeHint().height());
  const QRect inside = m_edit->contentsRect();
  EXPECT_EQ(m_edit->field(0)->x(), inside.left());
  EXPECT_EQ(m_edit->field(3)->geometry().right(), inside.right());
  for (int index = 1; index < 4; ++index) {
    EXPECT_NEAR(m_edit->field(index)->width(), m_edit->field(0)->width(), 1);
    EXPECT_GT(m_edit->field(index)->x(), m_edit->field(index - 1)->geometry().right() + 1)
        << "room for a dot";
  }
}

}  // namespace
}  // namespace quillnet
