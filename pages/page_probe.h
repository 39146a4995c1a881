#pragma once

#include <QMetaObject>
#include <QObject>
#include <cstdint>
#include <utility>

#include "app/address_prober.h"

namespace quillnet {

// A probe's result comes on the prober's thread; this hands it to `handler` on the thread of
// `page`, the user-interface thread. A page that goes first drops it (Qt discards the queued
// call), provided it cancels its probes before it goes.
template <typename Handler>
AddressProber::Done OnPageThread(QObject* page, Handler handler) {
  return [page, handler = std::move(handler)](std::uint64_t generation, const ProbeResult& result) {
    QMetaObject::invokeMethod(
        page, [handler, generation, result] { handler(generation, result); },
        Qt::QueuedConnection);
  };
}

}  // namespace quillnet
