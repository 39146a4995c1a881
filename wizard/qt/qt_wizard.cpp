#include "wizard/qt/qt_wizard.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "pages/bootp_wizard_sheet.h"
#include "wizard/qt/ip_address_edit.h"
#include "wizard/qt/server_messages.h"

namespace quillnet {
namespace {

constexpr char kHeaderBitmap[] = ":/bitmaps/1000.bmp";
constexpr char kWindowIcon[] = ":/icons/134.png";
constexpr char kPictureType[] = "JPEG";
// The texts on the Welcome picture's dark panel.
const QColor kOnPanel(0xF2, 0xF6, 0xFA);
// What a column sorts by: the count as a number, the other columns as their text.
constexpr int kSortRole = Qt::UserRole;

QFrame* MakeLine(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

void PaintWhite(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, Qt::white);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

// "\r\n", a bare "\r" and a bare "\n" each end one line.
QString RichEditText(const std::string& text) {
  QString result = Text(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

}  // namespace

// The rows of a page's list as Qt's views read them. The page has changed its rows already
// when it tells of a change, so the model keeps the row count the views have been told.
class RowsModel final : public QAbstractTableModel {
 public:
  RowsModel(const ListRows& rows, QObject* parent)
      : QAbstractTableModel(parent), m_rows(rows), m_count(rows.RowCount()) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : m_count;
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : m_rows.ColumnCount();
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= m_count) return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != kSortRole) return {};
    const QString cell = Text(m_rows.Cell(index.row(), index.column()));
    if (role == kSortRole && m_rows.IsNumeric(index.column())) return cell.toLongLong();
    return cell;
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return Text(m_rows.ColumnTitle(section));
  }

  void Inserted(int first, int count) {
    beginInsertRows(QModelIndex(), first, first + count - 1);
    m_count += count;
    endInsertRows();
  }
  void Changed(int row, int firstColumn, int lastColumn) {
    emit dataChanged(index(row, firstColumn), index(row, lastColumn));
  }
  void Reset() {
    beginResetModel();
    m_count = m_rows.RowCount();
    endResetModel();
  }

 private:
  const ListRows& m_rows;
  int m_count;
};

// ---- page windows --------------------------------------------------------------------------

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
  // A click on a column's header sorts by it; until then the rows keep their own order. The
  // selection stays on its row as rows update and move.
  list.sorted = new QSortFilterProxyModel(view);
  list.sorted->setSourceModel(list.model);
  list.sorted->setSortRole(kSortRole);
  list.sorted->setDynamicSortFilter(true);
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
  view->header()->setSortIndicator(-1, Qt::AscendingOrder);
  view->setSortingEnabled(true);
  // After a sort the chosen device stays in sight.
  connect(view->header(), &QHeaderView::sortIndicatorChanged, view, [view] {
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    if (!selected.isEmpty()) view->scrollTo(selected.first());
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

// ---- sheet ---------------------------------------------------------------------------------

QtWizardSheet::QtWizardSheet(CWizard97SheetImpl& sheet, QWidget* parent)
    : QDialog(parent), m_sheet(sheet), m_units(DialogFont()) {
  setObjectName(QStringLiteral("wizardSheet"));
  setFont(DialogFont());
  setWindowTitle(Text(sheet.Caption()));
  // No context help; the sheet is not resizable.
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* pageArea = new QWidget(this);
  pageArea->setFixedSize(m_units.ToPixels(QSize(kPageWidth, kExteriorPageHeight)));
  auto* pageLayout = new QVBoxLayout(pageArea);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->setSpacing(0);
  m_header = MakeHeader();
  pageLayout->addWidget(m_header);
  m_headerGap = MakeLine(pageArea);
  pageLayout->addWidget(m_headerGap);
  m_stack = new QStackedWidget(pageArea);
  pageLayout->addWidget(m_stack, 1);
  layout->addWidget(pageArea);
  layout->addWidget(MakeLine(this));

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(m_units.X(7), m_units.Y(7), m_units.X(7), m_units.Y(7));
  buttons->setSpacing(0);
  auto makeButton = [&](const char* name, const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setFixedSize(m_units.ToPixels(QSize(50, 14)));
    button->setAutoDefault(false);
    return button;
  };
  m_backButton = makeButton("backButton", tr("< &Back"));
  m_nextButton = makeButton("nextButton", tr("&Next >"));
  m_finishButton = makeButton("finishButton", tr("Finish"));
  m_cancelButton = makeButton("cancelButton", tr("Cancel"));
  // The end pages hide Cancel; the buttons to its left must not move into its place, where a
  // second click meant for Next would land on Back.
  QSizePolicy cancelPolicy = m_cancelButton->sizePolicy();
  cancelPolicy.setRetainSizeWhenHidden(true);
  m_cancelButton->setSizePolicy(cancelPolicy);
  buttons->addStretch(1);
  buttons->addWidget(m_backButton);
  // Next and Finish are never shown together and have the same size, so they share one slot.
  buttons->addWidget(m_nextButton);
  buttons->addWidget(m_finishButton);
  buttons->addSpacing(m_units.X(7));
  buttons->addWidget(m_cancelButton);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(m_backButton, &QPushButton::clicked, this, [this] {
    if (m_backButton->isEnabled()) m_sheet.PressBack();
  });
  connect(m_nextButton, &QPushButton::clicked, this, [this] {
    if (!m_nextButton->isHidden() && m_nextButton->isEnabled()) m_sheet.PressNext();
  });
  connect(m_finishButton, &QPushButton::clicked, this, [this] {
    if (!m_finishButton->isHidden()) m_sheet.PressFinish();
  });
  connect(m_cancelButton, &QPushButton::clicked, this, [this] { m_sheet.PressCancel(); });
  m_sheet.AttachWindow(this);
  ApplyButtons(0);
  // Failures of the reply step, on the server's threads, reach the user as message boxes.
  if (const auto* wizard = dynamic_cast<const CBootpWizardInfoRef*>(&sheet);
      wizard != nullptr && wizard->m_pWizardInfo != nullptr) {
    wizard->m_pWizardInfo->SetServerErrorHandler(MessageBoxErrorHandler());
  }
}

QtWizardSheet::~QtWizardSheet() {
  m_sheet.AttachWindow(nullptr);
  // The page windows go before the pages they host; the stack no longer holds them then.
  for (auto& [index, window] : m_windows) {
    m_stack->removeWidget(window.get());
    window.reset();
  }
}

QWidget* QtWizardSheet::MakeHeader() {
  auto* header = new QWidget;
  header->setObjectName(QStringLiteral("headerBand"));
  PaintWhite(header);
  header->setFixedHeight(m_units.Y(kExteriorPageHeight - kInteriorPageHeight) - m_units.Y(7));
  auto* layout = new QHBoxLayout(header);
  layout->setContentsMargins(m_units.X(11), m_units.Y(4), m_units.X(4), m_units.Y(4));
  auto* texts = new QVBoxLayout;
  texts->setSpacing(m_units.Y(2));
  m_headerTitle = new QLabel(header);
  m_headerTitle->setObjectName(QStringLiteral("headerTitle"));
  QFont bold = DialogFont();
  bold.setBold(true);
  m_headerTitle->setFont(bold);
  m_headerSubTitle = new QLabel(header);
  m_headerSubTitle->setObjectName(QStringLiteral("headerSubTitle"));
  m_headerSubTitle->setIndent(m_units.X(11));
  m_headerSubTitle->setWordWrap(true);
  texts->addStretch(1);
  texts->addWidget(m_headerTitle);
  texts->addWidget(m_headerSubTitle);
  texts->addStretch(1);
  layout->addLayout(texts, 1);
  auto* badge = new QLabel(header);
  badge->setObjectName(QStringLiteral("headerBadge"));
  badge->setPixmap(QPixmap(QString::fromLatin1(kHeaderBitmap)));
  badge->setAlignment(Qt::AlignCenter);
  layout->addWidget(badge);
  return header;
}

QtPageWindow* QtWizardSheet::PageWindow(int index) const {
  const auto found = m_windows.find(index);
  return found == m_windows.end() ? nullptr : found->second.get();
}

const QFont* QtWizardSheet::GetExteriorPageTitleFont() const {
  return m_exteriorTitleFont ? &*m_exteriorTitleFont : nullptr;
}

const QFont* QtWizardSheet::GetBulletFont() const {
  return m_bulletFont ? &*m_bulletFont : nullptr;
}

void QtWizardSheet::OnInitialized() {
  // Both fonts derive from the sheet's own; point sizes follow the screen's resolution.
  QFont title = font();
  title.setFamilies({QStringLiteral("Verdana Bold"), QStringLiteral("Verdana"),
                     QStringLiteral("DejaVu Sans")});
  title.setBold(true);
  title.setPointSize(12);
  m_exteriorTitleFont = title;
  QFont bullet = font();
  bullet.setFamily(QStringLiteral("Marlett"));
  bullet.setWeight(QFont::Normal);
  bullet.setPointSize(8);
  m_bulletFont = bullet;
}

bool QtWizardSheet::Prepare() {
  if (!m_initialized) {
    m_initialized = true;
    OnInitialized();
  }
  return m_sheet.Start();
}

int QtWizardSheet::DoModal(QWidget* owner) {
  if (parentWidget() == nullptr && owner != nullptr) setParent(owner, windowFlags());
  if (!Prepare()) return -1;
  return exec();
}

bool QtWizardSheet::ShowModeless() {
  if (!Prepare()) return false;
  show();
  return true;
}

bool QtWizardSheet::CreatePage(int index) {
  CWizard97PageImpl* page = m_sheet.GetPage(index);
  if (page == nullptr) return false;
  auto window = std::make_unique<QtPageWindow>(*page, *this);
  if (!window->Build(m_units)) return false;
  m_stack->addWidget(window.get());
  m_windows[index] = std::move(window);
  return true;
}

void QtWizardSheet::ShowPage(int index) {
  CWizard97PageImpl* page = m_sheet.GetPage(index);
  QtPageWindow* window = PageWindow(index);
  if (page == nullptr || window == nullptr) return;
  const bool header = !page->HidesHeader();
  if (header) {
    m_headerTitle->setText(Text(page->HeaderTitle()));
    m_headerSubTitle->setText(Text(page->HeaderSubTitle()));
  }
  m_header->setVisible(header);
  m_headerGap->setVisible(header);
  m_stack->setCurrentWidget(window);
  setWindowTitle(Text(page->Title()));
}

void QtWizardSheet::UpdateHeader(int index) {
  if (const CWizard97PageImpl* page = m_sheet.GetPage(index)) {
    m_headerTitle->setText(Text(page->HeaderTitle()));
    m_headerSubTitle->setText(Text(page->HeaderSubTitle()));
  }
}

void QtWizardSheet::ApplyButtons(int buttons) {
  QWidget* const focused = focusWidget();
  m_backButton->setEnabled((buttons & PSWIZB_BACK) != 0);
  // Finish takes Next's place when it is requested.
  const bool finish = (buttons & PSWIZB_FINISH) != 0;
  m_nextButton->setVisible(!finish);
  m_nextButton->setEnabled((buttons & PSWIZB_NEXT) != 0);
  m_finishButton->setVisible(finish);
  m_finishButton->setEnabled(finish);
  QPushButton* primary = finish ? m_finishButton : m_nextButton;
  m_nextButton->setDefault(primary == m_nextButton && m_nextButton->isEnabled());
  m_finishButton->setDefault(primary == m_finishButton);
  // A focused button that is hidden or disabled hands the focus on along the Tab chain, which
  // may be Cancel; the button that takes its place gets it instead.
  if ((focused == m_backButton || focused == m_nextButton || focused == m_finishButton) &&
      (focused->isHidden() || !focused->isEnabled())) {
    FocusWizButton();
  }
}

void QtWizardSheet::ShowCancelButton(bool shown) { m_cancelButton->setVisible(shown); }

void QtWizardSheet::FocusPage(int index) {
  QtPageWindow* page = PageWindow(index);
  if (page == nullptr) return;
  // A page that has placed the focus itself keeps it, as does the control the stack hands
  // the focus back to on a page seen before.
  if (QWidget* focused = focusWidget(); focused != page && page->isAncestorOf(focused)) return;
  // The Tab chain is a ring through the whole window, the page's controls in their order.
  for (QWidget* widget = page->nextInFocusChain(); widget != page;
       widget = widget->nextInFocusChain()) {
    if (page->isAncestorOf(widget) && (widget->focusPolicy() & Qt::TabFocus) != 0 &&
        widget->isEnabled() && widget->isVisibleTo(this)) {
      widget->setFocus(Qt::TabFocusReason);
      return;
    }
  }
  FocusWizButton();
}

void QtWizardSheet::FocusWizButton() {
  QPushButton* primary = m_finishButton->isHidden() ? m_nextButton : m_finishButton;
  for (QPushButton* button : {primary, m_backButton}) {
    if (!button->isHidden() && button->isEnabled()) {
      button->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
  // Nothing to press: the page takes the keys, so that Esc still reaches the sheet.
  if (QtPageWindow* page = PageWindow(m_sheet.GetCurrentIndex())) {
    page->setFocus(Qt::OtherFocusReason);
  }
}

void QtWizardSheet::Queue(std::function<void()> task) {
  QMetaObject::invokeMethod(this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtWizardSheet::Close(int result) { done(result); }

void QtWizardSheet::reject() { m_sheet.Close(); }

void QtWizardSheet::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    m_sheet.PressCancel();
    return;
  }
  QDialog::keyPressEvent(event);
}

void QtWizardSheet::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // The icons are set on the first size only; later layouts keep them.
  if (!m_iconsSet) {
    m_iconsSet = true;
    setWindowIcon(QIcon(QString::fromLatin1(kWindowIcon)));
  }
}

int ShowBootpWizardSheet(CBootpWizardInfo& info) {
  CBootpWizardSheet sheet(&info, 0);
  QtWizardSheet window(sheet);
  return window.DoModal(QApplication::activeWindow());
}

}  // namespace quillnet
