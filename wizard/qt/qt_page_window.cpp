#include "wizard/qt/qt_page_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

#include "wizard/qt/frame_support.h"
#include "wizard/qt/ip_address_edit.h"
#include "wizard/qt/qt_wizard.h"
#include "wizard/qt/rows_model.h"
#include "wizard/qt/sorted_rows_model.h"

namespace quillnet {
namespace {

constexpr char kPictureType[] = "JPEG";
// The texts on the Welcome picture's dark panel.
const QColor kOnPanel(0xF2, 0xF6, 0xFA);

// "\r\n", a bare "\r" and a bare "\n" each end one line.
QString RichEditText(const std::string& text) {
  QString result = Text(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

}  // namespace

QtPageWindow::QtPageWindow(CWizard97PageImpl& page, QtWizardSheet& sheet)
    : m_page(page), m_sheet(sheet) {
  setObjectName(Text(page.Name()));
  if (page.HidesHeader()) PaintWhite(this);
}

QtPageWindow::~QtPageWindow() {
  if (m_page.Host() == this) m_page.AttachHost(nullptr);
}

QWidget* QtPageWindow::Control(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second;
}

bool QtPageWindow::Build(const DialogUnits& units) {
  if (HasDialogTemplate(m_page.DialogId())) {
    DialogTemplate dialog;
    QString error;
    if (!LoadDialogTemplate(m_page.DialogId(), dialog, error)) return false;
    m_controls = BuildDialog(this, dialog, units);
  }
  for (const auto& [id, control] : m_controls) Connect(id, control);
  m_built = true;
  m_page.AttachHost(this);
  return true;
}

void QtPageWindow::Connect(int id, QWidget* control) {
  CWizard97PageImpl& page = m_page;
  if (auto* box = qobject_cast<QCheckBox*>(control)) {
    connect(box, &QCheckBox::clicked, this, [&page, id] { page.Command(id, ControlEvent::kClicked); });
  } else if (auto* button = qobject_cast<QPushButton*>(control)) {
    connect(button, &QPushButton::clicked, this,
            [&page, id] { page.Command(id, ControlEvent::kClicked); });
  } else if (auto* address = qobject_cast<IpAddressEdit*>(control)) {
    connect(address, &IpAddressEdit::fieldChanged, this,
            [&page, id] { page.Command(id, ControlEvent::kFieldChanged); });
  } else if (auto* list = qobject_cast<QTreeView*>(control)) {
    connect(list, &QTreeView::doubleClicked, this,
            [&page, id] { page.Command(id, ControlEvent::kDoubleClicked); });
  }
}

void QtPageWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_built) m_page.OnSize();
}

void QtPageWindow::SetText(int id, const std::string& text) {
  QWidget* control = Control(id);
  if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(KeepMacsWhole(Text(text)));
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(Text(text));
  } else if (auto* rich = qobject_cast<QTextEdit*>(control)) {
    rich->setPlainText(KeepMacsWhole(RichEditText(text)));
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(Text(text));
  }
}

std::string QtPageWindow::GetText(int id) const {
  QWidget* control = Control(id);
  if (auto* label = qobject_cast<QLabel*>(control)) return WithoutJoiners(label->text()).toStdString();
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text().toStdString();
  if (auto* rich = qobject_cast<QTextEdit*>(control)) {
    return WithoutJoiners(rich->toPlainText()).toStdString();
  }
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text().toStdString();
  return {};
}

void QtPageWindow::Show(int id, bool shown) {
  if (QWidget* control = Control(id)) control->setVisible(shown);
}

void QtPageWindow::SetCheck(int id, bool checked) {
  if (auto* box = qobject_cast<QCheckBox*>(Control(id))) box->setChecked(checked);
}

bool QtPageWindow::GetCheck(int id) const {
  const auto* box = qobject_cast<QCheckBox*>(Control(id));
  return box != nullptr && box->isChecked();
}

void QtPageWindow::SetFocus(int id) {
  QWidget* control = Control(id);
  if (auto* address = qobject_cast<IpAddressEdit*>(control)) {
    // The caret goes where typing goes on: the first empty part, else the last part.
    int part = 0;
    while (part < 3 && !address->field(part)->text().isEmpty()) ++part;
    address->setFieldFocus(part);
    return;
  }
  if (control != nullptr) control->setFocus(Qt::OtherFocusReason);
}

void QtPageWindow::SetAddress(int id, const IpEntry& address) {
  if (auto* edit = qobject_cast<IpAddressEdit*>(Control(id))) edit->setText(Text(address.Text()));
}

IpEntry QtPageWindow::GetAddress(int id) const {
  const auto* edit = qobject_cast<IpAddressEdit*>(Control(id));
  return edit != nullptr ? IpEntry::FromText(edit->text().toStdString()) : IpEntry{};
}

void QtPageWindow::SetFont(int id, FontRole role) {
  QWidget* control = Control(id);
  if (control == nullptr) return;
  switch (role) {
    case FontRole::kExteriorTitle:
      if (const QFont* font = m_sheet.GetExteriorPageTitleFont()) control->setFont(*font);
      return;
    case FontRole::kBullet:
      if (const QFont* font = m_sheet.GetBulletFont()) {
        // In Marlett "h" is a bullet. Without Marlett the letter would show, so the bullet is
        // written as the character itself.
        if (QFontInfo(*font).family() == QStringLiteral("Marlett")) {
          control->setFont(*font);
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
          label->setText(QString(QChar(0x2022)));
        }
      }
      return;
    case FontRole::kSummary: {
      QFont summary(QStringLiteral("Arial"));
      summary.setStyleHint(QFont::SansSerif);
      summary.setPointSize(10);
      control->setFont(summary);
      if (auto* edit = qobject_cast<QTextEdit*>(control)) {
        edit->document()->setDefaultFont(summary);
        // A tab stop every four average characters of the summary font.
        edit->setTabStopDistance(4.0 * AverageCharWidth(summary));
      }
      return;
    }
  }
}

void QtPageWindow::SetRichText(int id, const std::string& text, int boldCharacters) {
  auto* edit = qobject_cast<QTextEdit*>(Control(id));
  if (edit == nullptr) return;
  // The joiners that keep a MAC address whole move the end of the bold characters on.
  int boldEnd = boldCharacters;
  edit->setPlainText(KeepMacsWhole(RichEditText(text), &boldEnd));
  if (boldCharacters <= 0) return;
  QTextCursor cursor(edit->document());
  cursor.setPosition(0);
  cursor.setPosition(boldEnd, QTextCursor::KeepAnchor);
  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  cursor.mergeCharFormat(bold);
}

void QtPageWindow::SetOnPicture(int id) {
  QWidget* control = Control(id);
  if (control == nullptr) return;
  QPalette palette = control->palette();
  palette.setColor(QPalette::WindowText, kOnPanel);
  palette.setColor(QPalette::Text, kOnPanel);
  palette.setColor(QPalette::Base, Qt::transparent);
  control->setPalette(palette);
  control->setAutoFillBackground(false);
}

bool QtPageWindow::ShowPicture(int pictureId) {
  if (m_pictureControl == nullptr) {
    m_pictureControl = new QLabel(this);
    m_pictureControl->setObjectName(QStringLiteral("splashImage"));
    m_pictureControl->setAccessibleName(QStringLiteral("Welcome Screen Splash Image"));
  }
  const bool loaded = m_picture.Load(pictureId, kPictureType);
  if (loaded) {
    m_pictureControl->setPixmap(m_picture.Handle());
    m_pictureControl->setGeometry(QRect(QPoint(0, 0), m_picture.Handle().size()));
  } else {
    m_pictureControl->setGeometry(0, 0, 1, 1);
  }
  // Below the page's own controls, so the texts that only exist as controls stay readable.
  m_pictureControl->lower();
  m_pictureControl->show();
  return loaded;
}

void QtPageWindow::SetListRows(int id, const ListRows* rows) {
  auto* view = qobject_cast<QTreeView*>(Control(id));
  if (view == nullptr || rows == nullptr) return;
  List& list = m_lists[id];
  list.model = new RowsModel(*rows, view);
  // The selection stays on its row as rows update and move.
  list.sorted = new SortedRowsModel(*rows, view);
  list.sorted->setSourceModel(list.model);
  view->setModel(list.sorted);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->header()->setStretchLastSection(false);
  view->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view->header()->setSectionsMovable(false);
  for (int column = 0; column < rows->ColumnCount(); ++column) {
    view->setColumnWidth(column, m_sheet.Units().X(rows->ColumnWidth(column)));
  }
  // A click on a column's header sorts by it, as the sort rule says; until then the rows keep
  // their own order. The header's own idea of the order gives way to the rule's.
  QHeaderView* header = view->header();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  connect(header, &QHeaderView::sectionClicked, view, [header, sorted = list.sorted](int column) {
    sorted->Click(column);
    header->setSortIndicator(column, sorted->Order());
  });
  // After every sort the chosen device stays in sight: a click on a header, a change of a
  // device's cells that moves rows, and rows that come in above the last one.
  const auto keepInSight = [view] {
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    if (!selected.isEmpty()) view->scrollTo(selected.first());
  };
  connect(list.sorted, &QAbstractItemModel::layoutChanged, view, keepInSight);
  connect(list.sorted, &QAbstractItemModel::rowsInserted, view,
          [sorted = list.sorted, keepInSight](const QModelIndex&, int, int last) {
            if (sorted->Sort().column >= 0 && last + 1 < sorted->rowCount()) keepInSight();
          });
  // As in a Windows list view, the row with the focus is the selected one: Tab into the list
  // selects it, and so do the arrow keys.
  view->installEventFilter(this);
}

bool QtPageWindow::eventFilter(QObject* watched, QEvent* event) {
  auto* view = qobject_cast<QTreeView*>(watched);
  if (view != nullptr && event->type() == QEvent::FocusIn && view->model() != nullptr &&
      view->model()->rowCount() > 0 && !view->selectionModel()->hasSelection()) {
    const QModelIndex current = view->currentIndex();
    const QModelIndex row = current.isValid() ? current : view->model()->index(0, 0);
    view->selectionModel()->setCurrentIndex(
        row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  return QWidget::eventFilter(watched, event);
}

void QtPageWindow::ListRowsInserted(int id, int first, int count) {
  if (const auto found = m_lists.find(id); found != m_lists.end()) {
    found->second.model->Inserted(first, count);
  }
}

void QtPageWindow::ListRowChanged(int id, int row, int firstColumn, int lastColumn) {
  if (const auto found = m_lists.find(id); found != m_lists.end()) {
    found->second.model->Changed(row, firstColumn, lastColumn);
  }
}

void QtPageWindow::ListReset(int id) {
  if (const auto found = m_lists.find(id); found != m_lists.end()) found->second.model->Reset();
}

int QtPageWindow::ListSelectedRow(int id) const {
  const auto found = m_lists.find(id);
  const auto* view = qobject_cast<QTreeView*>(Control(id));
  if (found == m_lists.end() || view == nullptr) return -1;
  const QModelIndexList selected = view->selectionModel()->selectedRows();
  if (selected.isEmpty()) return -1;
  return found->second.sorted->mapToSource(selected.first()).row();
}

void QtPageWindow::Post(std::function<void()> task) {
  // Queued to this window: Qt drops the call once the window is gone.
  QMetaObject::invokeMethod(this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtPageWindow::StartTimer(int timerId, int milliseconds) {
  QTimer*& timer = m_timers[timerId];
  if (timer == nullptr) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, timerId] { m_page.OnTimer(timerId); });
  }
  timer->start(milliseconds);
}

void QtPageWindow::StopTimer(int timerId) {
  if (const auto found = m_timers.find(timerId); found != m_timers.end()) found->second->stop();
}

void QtPageWindow::MessageBox(const std::string& title, const std::string& text, BoxIcon icon) {
  QMessageBox box(icon == BoxIcon::kWarning ? QMessageBox::Warning : QMessageBox::NoIcon,
                  Text(title), Text(text), QMessageBox::Ok, this);
  box.exec();
}

std::optional<std::string> QtPageWindow::ChooseFolder(const std::string& title,
                                                      const std::string& start) {
  QFileDialog chooser(this, Text(title));
  chooser.setObjectName(QStringLiteral("folderChooser"));
  chooser.setFileMode(QFileDialog::Directory);
  chooser.setOption(QFileDialog::ShowDirsOnly);
  if (!start.empty()) chooser.setDirectory(Text(start));
  if (chooser.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = chooser.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.first().toStdString();
}

void QtPageWindow::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtPageWindow::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace quillnet
