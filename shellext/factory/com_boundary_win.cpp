#include "shellext/factory/com_boundary_win.h"

#include <atomic>

namespace vellum::shellext {

namespace {

// COM calls arrive on any of the host's threads; the handler is read on each.
std::atomic<ComBoundaryHandler> g_handler{nullptr};

void Observe(const char* method) noexcept {
  const ComBoundaryHandler handler = g_handler.load();
  if (handler == nullptr) return;
  try {
    handler(std::current_exception(), method);
  } catch (...) {
    // A failing reporter must not turn a handled failure into a crash of the host.
  }
}

}  // namespace

ComBoundaryHandler SetComBoundaryHandler(ComBoundaryHandler handler) noexcept {
  return g_handler.exchange(handler);
}

namespace detail {

HRESULT RunAtComBoundary(const char* method, HRESULT fixed_result, ComBody body) noexcept {
  try {
    return body.call(body.body);
  } catch (...) {
    Observe(method);
    return fixed_result;
  }
}

}  // namespace detail

}  // namespace vellum::shellext
