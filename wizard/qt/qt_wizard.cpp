#include "wizard/qt/qt_wizard.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "pages/bootp_wizard_sheet.h"
#include "wizard/qt/frame_support.h"
#include "wizard/qt/server_messages.h"

namespace quillnet {
namespace {

constexpr char kHeaderBitmap[] = ":/bitmaps/1000.bmp";
constexpr char kWindowIcon[] = ":/icons/134.png";

QFrame* MakeLine(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

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