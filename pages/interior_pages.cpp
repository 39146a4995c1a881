#include "pages/interior_pages.h"

#include <memory>

#include "pages/assign_ip_page.h"
#include "pages/install_page.h"
#include "pages/listen_page.h"
#include "pages/set_ip_page.h"

namespace quillnet {

InteriorPages MakeInteriorPages() {
  InteriorPages pages;
  pages.listen = std::make_unique<CListenDlg>();
  pages.setIp = std::make_unique<CSetIPDlg>();
  pages.assignIp = std::make_unique<CAssignIPDlg>();
  pages.install = std::make_unique<CInstallPage>();
  return pages;
}

}  // namespace quillnet
