#include "wizard/wizard97.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quillnet {
namespace {

constexpr QSize kExteriorDialogSize(317, 193);
constexpr QSize kInteriorDialogSize(317, 143);
constexpr char kHeaderBitmap[] = ":/bitmaps/1000.bmp";
constexpr char kWindowIcon[] = ":/icons/134.png";

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

}  // namespace

// ---- pages ---------------------------------------------------------------------------------

CWizard97PageImpl::CWizard97PageImpl(int dialogId, const QString& title, bool hidesHeader,
                                     QSize dialogSize)
    : m_dialogId(dialogId), m_title(title), m_hidesHeader(hidesHeader), m_dialogSize(dialogSize) {
  setObjectName(QStringLiteral("page%1").arg(dialogId));
}

CWizard97PageImpl::~CWizard97PageImpl() = default;

QWidget* CWizard97PageImpl::Control(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second;
}

void CWizard97PageImpl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_created) OnSize();
}

bool CWizard97PageImpl::Create(const DialogUnits& units) {
  if (m_created) return true;
  // A page without a template of its own draws everything itself; a template that is there
  // but cannot be read is an error, never an empty page.
  if (HasDialogTemplate(m_dialogId)) {
    DialogTemplate dialog;
    QString error;
    if (!LoadDialogTemplate(m_dialogId, dialog, error)) return false;
    m_controls = BuildDialog(this, dialog, units);
  }
  m_created = true;
  OnInitDialog();
  return true;
}

CWizard97ExteriorPageImpl::CWizard97ExteriorPageImpl(int dialogId, const QString& title)
    : CWizard97PageImpl(dialogId, title, true, kExteriorDialogSize) {
  PaintWhite(this);
}

CWizard97InteriorPageImpl::CWizard97InteriorPageImpl(int dialogId, const QString& title)
    : CWizard97PageImpl(dialogId, title, false, kInteriorDialogSize) {
  SetHeaderTitleText(QStringLiteral("Call SetHeaderTitle in Derived Class"));
  SetHeaderSubTitleText(QStringLiteral("Call SetHeaderSubTitle in the constructor of the Derived Class."));
}

void CWizard97InteriorPageImpl::SetHeaderTitle(const QString& text) {
  SetHeaderTitleText(text);
  if (Sheet() != nullptr) Sheet()->UpdateHeader(this);
}

void CWizard97InteriorPageImpl::SetHeaderSubTitle(const QString& text) {
  SetHeaderSubTitleText(text);
  if (Sheet() != nullptr) Sheet()->UpdateHeader(this);
}

// ---- sheet ---------------------------------------------------------------------------------

CWizard97SheetImpl::CWizard97SheetImpl(const QString& caption, int startPage, QWidget* parent)
    : QDialog(parent), m_startPage(startPage), m_units(DialogFont()) {
  setObjectName(QStringLiteral("wizardSheet"));
  setFont(DialogFont());
  setWindowTitle(caption);
  // No context help; the sheet is not resizable.
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* pageArea = new QWidget(this);
  pageArea->setFixedSize(m_units.ToPixels(kExteriorDialogSize));
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

  connect(m_backButton, &QPushButton::clicked, this, [this] { PressBack(); });
  connect(m_nextButton, &QPushButton::clicked, this, [this] { PressNext(); });
  connect(m_finishButton, &QPushButton::clicked, this, [this] { PressFinish(); });
  connect(m_cancelButton, &QPushButton::clicked, this, [this] { OnCancelCommand(); });
  ApplyWizButtons(0);
}

CWizard97SheetImpl::~CWizard97SheetImpl() = default;

QWidget* CWizard97SheetImpl::MakeHeader() {
  auto* header = new QWidget;
  header->setObjectName(QStringLiteral("headerBand"));
  PaintWhite(header);
  header->setFixedHeight(m_units.Y(193 - 143) - m_units.Y(7));
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

bool CWizard97SheetImpl::AddPage(CWizard97PageImpl* page) {
  if (page == nullptr || page->m_sheet != nullptr) return false;
  page->m_sheet = this;
  m_pages.push_back(page);
  m_stack->addWidget(page);
  return true;
}

CWizard97PageImpl* CWizard97SheetImpl::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? m_pages[static_cast<std::size_t>(index)] : nullptr;
}

int CWizard97SheetImpl::IndexOfDialog(int dialogId) const {
  for (int index = 0; index < GetPageCount(); ++index) {
    if (m_pages[static_cast<std::size_t>(index)]->DialogId() == dialogId) return index;
  }
  return -1;
}

const QFont* CWizard97SheetImpl::GetExteriorPageTitleFont() const {
  return m_exteriorTitleFont ? &*m_exteriorTitleFont : nullptr;
}

const QFont* CWizard97SheetImpl::GetBulletFont() const {
  return m_bulletFont ? &*m_bulletFont : nullptr;
}

void CWizard97SheetImpl::OnInitialized() {
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

bool CWizard97SheetImpl::Prepare() {
  if (m_pages.empty()) return false;
  if (!m_initialized) {
    m_initialized = true;
    OnInitialized();
  }
  const int start = m_startPage >= 0 && m_startPage < GetPageCount() ? m_startPage : 0;
  return m_current >= 0 || SetCurSel(start);
}

int CWizard97SheetImpl::DoModal(QWidget* owner) {
  if (parentWidget() == nullptr && owner != nullptr) setParent(owner, windowFlags());
  if (!Prepare()) return -1;
  return exec();
}

bool CWizard97SheetImpl::ShowModeless() {
  if (!Prepare()) return false;
  show();
  return true;
}

void CWizard97SheetImpl::PostSetWizButtons(int buttons) {
  QMetaObject::invokeMethod(this, [this, buttons] { ApplyWizButtons(buttons); },
                            Qt::QueuedConnection);
}

void CWizard97SheetImpl::ApplyWizButtons(int buttons) {
  QWidget* const focused = focusWidget();
  m_wizButtons = buttons;
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

bool CWizard97SheetImpl::SetCurSel(int index) {
  CWizard97PageImpl* next = GetPage(index);
  if (next == nullptr) return false;
  if (CWizard97PageImpl* current = GetPage(m_current)) {
    if (current->OnKillActive() != 0) return false;
  }
  if (!next->Create(m_units)) return false;
  ShowPage(index);
  next->OnSetActive();
  // After the buttons the page has just asked for, which are posted too.
  QMetaObject::invokeMethod(
      this, [this, index] { if (m_current == index) FocusPage(); }, Qt::QueuedConnection);
  return true;
}

void CWizard97SheetImpl::UpdateHeader(const CWizard97PageImpl* page) {
  if (page == nullptr || page != GetPage(m_current) || page->HidesHeader()) return;
  m_headerTitle->setText(page->HeaderTitle());
  m_headerSubTitle->setText(page->HeaderSubTitle());
}

void CWizard97SheetImpl::ShowPage(int index) {
  CWizard97PageImpl* page = GetPage(index);
  m_current = index;
  const bool header = !page->HidesHeader();
  if (header) {
    m_headerTitle->setText(page->HeaderTitle());
    m_headerSubTitle->setText(page->HeaderSubTitle());
  }
  m_header->setVisible(header);
  m_headerGap->setVisible(header);
  m_stack->setCurrentWidget(page);
  setWindowTitle(page->Title());
}

void CWizard97SheetImpl::FocusPage() {
  CWizard97PageImpl* page = GetPage(m_current);
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

void CWizard97SheetImpl::FocusWizButton() {
  QPushButton* primary = m_finishButton->isHidden() ? m_nextButton : m_finishButton;
  for (QPushButton* button : {primary, m_backButton}) {
    if (!button->isHidden() && button->isEnabled()) {
      button->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
  // Nothing to press: the page takes the keys, so that Esc still reaches the sheet.
  if (CWizard97PageImpl* page = GetPage(m_current)) page->setFocus(Qt::OtherFocusReason);
}

void CWizard97SheetImpl::PressBack() {
  CWizard97PageImpl* page = GetPage(m_current);
  if (page == nullptr || !m_backButton->isEnabled()) return;
  const int result = page->OnWizardBack();
  if (result == -1) return;
  SetCurSel(result == 0 ? m_current - 1 : IndexOfDialog(result));
}

void CWizard97SheetImpl::PressNext() {
  CWizard97PageImpl* page = GetPage(m_current);
  if (page == nullptr || m_nextButton->isHidden() || !m_nextButton->isEnabled()) return;
  const int result = page->OnWizardNext();
  if (result == -1) return;
  SetCurSel(result == 0 ? m_current + 1 : IndexOfDialog(result));
}

void CWizard97SheetImpl::PressFinish() {
  CWizard97PageImpl* page = GetPage(m_current);
  if (page == nullptr || m_finishButton->isHidden()) return;
  if (page->OnWizardFinish() == 0) done(1);
}

void CWizard97SheetImpl::reject() {
  if (CWizard97PageImpl* page = GetPage(m_current)) {
    if (page->OnQueryCancel() != 0) return;
    for (CWizard97PageImpl* each : m_pages) {
      if (each->IsCreated()) each->OnReset();
    }
  }
  done(0);
}

void CWizard97SheetImpl::OnCancelCommand() { reject(); }

void CWizard97SheetImpl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    OnCancelCommand();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CWizard97SheetImpl::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // The icons are set on the first size only; later layouts keep them.
  if (!m_iconsSet) {
    m_iconsSet = true;
    setWindowIcon(QIcon(QString::fromLatin1(kWindowIcon)));
  }
}

}  // namespace quillnet
