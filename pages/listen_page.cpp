#include "pages/listen_page.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <chrono>
#include <thread>

#include "bootp/bootp_server.h"
#include "pages/device_list_model.h"
#include "wizard/wait_cursor.h"

namespace quillnet {
namespace {

constexpr int kColumnWidths[] = {100, 45, 120};
static_assert(std::size(kColumnWidths) == CDeviceListModel::kColumnCount);
constexpr auto kStartPoll = std::chrono::milliseconds(10);
// A start is one bind; this only keeps a broken start from freezing the window.
constexpr auto kStartLimit = std::chrono::seconds(5);

}  // namespace

CListenDlg::CListenDlg()
    : CWizard97InteriorPageImpl(kListenPageId, QString::fromLatin1(kWizardPageTitle)) {
  setObjectName(QStringLiteral("listenPage"));
  SetHeaderTitle(QStringLiteral("IP Address Request Listener"));
  SetHeaderSubTitle(QStringLiteral("Please select a MAC address."));
  m_listenTimer.setInterval(kTimerMs);
  connect(&m_listenTimer, &QTimer::timeout, this, [this] { OnTimer(); });
}

CListenDlg::~CListenDlg() {
  // The worker goes on until the shared state ends it, but no longer calls into the server.
  if (m_listenServer != nullptr && m_pWizardInfo != nullptr) {
    m_pWizardInfo->WorkerFlags().server = nullptr;
  }
  m_listenServer = nullptr;
}

bool CListenDlg::OnInitDialog() {
  WaitCursor wait;
  InitList();
  m_vendorOnly = false;
  m_validOnly = true;
  return true;
}

void CListenDlg::InitList() {
  m_list = static_cast<QTreeView*>(Control(IDC_DEVICE_LIST));
  m_model = new CDeviceListModel(m_list);
  // A click on a column's header sorts by it; until then the rows keep the order in which the
  // devices were first heard. The selection stays on its device as rows update and move.
  auto* sorted = new QSortFilterProxyModel(m_list);
  sorted->setSourceModel(m_model);
  sorted->setSortRole(CDeviceListModel::kSortRole);
  sorted->setDynamicSortFilter(true);
  m_list->setModel(sorted);
  m_list->header()->setSortIndicator(-1, Qt::AscendingOrder);
  m_list->setSortingEnabled(true);
  m_list->setRootIsDecorated(false);
  m_list->setItemsExpandable(false);
  m_list->setUniformRowHeights(true);
  m_list->setAllColumnsShowFocus(true);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->header()->setStretchLastSection(false);
  m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_list->header()->setSectionsMovable(false);
  for (int column = 0; column < CDeviceListModel::kColumnCount; ++column) {
    m_list->setColumnWidth(column, kColumnWidths[column]);
  }
  connect(m_list, &QTreeView::doubleClicked, this, [this] { OnDoubleClick(); });

  m_vendorOnlyCheck = static_cast<QCheckBox*>(Control(IDC_VENDOR_ONLY));
  m_validOnlyCheck = static_cast<QCheckBox*>(Control(IDC_VALID_ONLY));
  for (QCheckBox* box : {m_vendorOnlyCheck, m_validOnlyCheck}) {
    connect(box, &QCheckBox::clicked, this, [this] { OnFilterClicked(); });
  }
  m_validOnlyCheck->hide();
}

void CListenDlg::SetWizButtons(int buttons) {
  m_wizButtons = buttons;
  Sheet()->PostSetWizButtons(buttons);
}

int CListenDlg::OnSetActive() {
  SetWizButtons(PSWIZB_BACK);
  // Choosing a device starts a new assignment: what the last one ended in is no longer true.
  m_pWizardInfo->GetServer()->ClearAssignmentMessage();
  m_validOnlyCheck->setChecked(m_validOnly);
  ListenWorkerFlags& flags = m_pWizardInfo->WorkerFlags();
  if (!flags.running) StartWorker();
  m_listenTimer.start();
  return 0;
}

void CListenDlg::StartWorker() {
  ListenWorkerFlags& flags = m_pWizardInfo->WorkerFlags();
  flags.running = true;
  m_listenServer = m_pWizardInfo->GetServer();
  flags.server = m_listenServer;
  m_pWizardInfo->AdoptWorker(std::thread(ListenThreadProc, std::ref(flags)));
  // Wait until the server listens or has failed to start; the first tick then shows the
  // Failure page for a failed start.
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (flags.running && !flags.ready && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kStartPoll);
  }
}

void CListenDlg::OnTimer() {
  if (m_listenServer == nullptr || !m_listenServer->IsRunning()) {
    // The Failure page has set its buttons; a selection update now would post this page's
    // Back and Next after them.
    Sheet()->SetCurSel(Sheet()->GetPageCount() - 2);
    return;
  }
  UpdateSelection();
  RefreshList();
}

bool CListenDlg::UpdateSelection() {
  const QModelIndexList selected = m_list->selectionModel()->selectedRows(CDeviceListModel::kMacColumn);
  if (selected.isEmpty()) {
    if (m_wizButtons != PSWIZB_BACK) SetWizButtons(PSWIZB_BACK);
    return false;
  }
  const bool ok = m_pWizardInfo->SetMacAddress(selected.first().data().toString().toStdString());
  if (ok && m_wizButtons != (PSWIZB_BACK | PSWIZB_NEXT)) SetWizButtons(PSWIZB_BACK | PSWIZB_NEXT);
  return ok;
}

void CListenDlg::RefreshList() {
  if (m_listenServer != nullptr) m_model->Refresh(*m_listenServer);
}

void CListenDlg::OnFilterClicked() {
  m_vendorOnly = m_vendorOnlyCheck->isChecked();
  m_validOnly = m_validOnlyCheck->isChecked();
  if (m_listenServer != nullptr) m_model->Reset(*m_listenServer, m_vendorOnly, m_validOnly);
}

int CListenDlg::OnKillActive() {
  m_listenTimer.stop();
  m_pWizardInfo->SetStatusMessage("You have not selected a device for IP assignment.");
  return 0;
}

int CListenDlg::OnWizardNext() {
  if (!UpdateSelection()) return -1;
  m_listenTimer.stop();
  return m_pWizardInfo->GetNextPage(kListenPageId);
}

int CListenDlg::OnWizardBack() {
  m_listenTimer.stop();
  return m_pWizardInfo->GetPreviousPage(kListenPageId);
}

void CListenDlg::OnDoubleClick() {
  if (OnWizardNext() != -1) Sheet()->SetCurSel(Sheet()->GetCurrentIndex() + 1);
}

}  // namespace quillnet
