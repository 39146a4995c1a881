#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "vendors/vendor_table.h"

namespace quillnet {

// The makers of MAC addresses for one program run: the registries are read on a thread of
// their own from construction on, so that no page or subcommand waits for them; a lookup
// meanwhile says "not loaded yet". The thread is joined on destruction.
class VendorLoader {
 public:
  // `folder`: where the registries are; "" for the system's.
  explicit VendorLoader(std::string folder = {});
  ~VendorLoader();
  VendorLoader(const VendorLoader&) = delete;
  VendorLoader& operator=(const VendorLoader&) = delete;

  VendorLookup Lookup(DeviceKey key) const { return m_vendors.Lookup(key); }
  // Whether the registries have been read, or found missing: from then on a lookup says what
  // it will always say. Never waits.
  bool Loaded() const { return m_loaded; }
  // Waits until the registries are read, or found missing: for a lookup that must not say
  // "not loaded yet". Called from the thread that made the loader.
  void WaitLoaded();
  // Why the registries could not be read; "" while they are read or once they were.
  std::string Unavailable() const { return m_vendors.Unavailable(); }

 private:
  Vendors m_vendors;
  std::atomic<bool> m_loaded{false};
  std::thread m_thread;
};

}  // namespace quillnet
