// Bytes from an unprivileged caller to quillnet-net-helper, which holds two capabilities: the
// parser takes only requests within bounds, and what it takes encodes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "helper/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillnet::helper;
  const Request request = ParseRequest(std::span(data, size));
  if (request.kind == RequestKind::kRefused) return 0;
  if (size != kRequestSize) std::abort();
  const bool probe = request.kind == RequestKind::kProbeArp || request.kind == RequestKind::kProbeEcho;
  if (probe && ((request.kind == RequestKind::kProbeArp) != (request.interfaceIndex > 0) ||
                request.interfaceIndex < 0 || request.address == 0 || request.address == 0xFFFFFFFF ||
                request.durationMs < kMinDurationMs || request.durationMs > kMaxDurationMs ||
                request.intervalMs < kMinIntervalMs || request.intervalMs > kMaxIntervalMs)) {
    std::abort();
  }
  const RequestBytes again = EncodeRequest(request);
  for (std::size_t i = 0; i < kRequestSize; ++i) {
    if (again[i] != data[i]) std::abort();
  }
  return 0;
}
