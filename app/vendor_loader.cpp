#include "app/vendor_loader.h"

#include <utility>

namespace quillnet {

VendorLoader::VendorLoader(std::string folder)
    : m_thread([this, folder = std::move(folder)] {
        if (folder.empty()) {
          m_vendors.Load();
        } else {
          m_vendors.Load(folder);
        }
        m_loaded = true;
      }) {}

VendorLoader::~VendorLoader() { WaitLoaded(); }

void VendorLoader::WaitLoaded() {
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace quillnet
