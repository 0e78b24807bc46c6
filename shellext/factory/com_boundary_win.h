// The COM boundary: a COM method (or a server entry point) runs its body
// through ComBoundary, which answers the method's fixed result when anything
// escapes. Nothing may unwind into the caller's code, and this is the one
// place where such an exception is seen: a process-wide handler, none by
// default, hears of each one with the name of the method it escaped from.
#pragma once

#include <objbase.h>

#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

namespace vellum::shellext {

// Told of an exception that escaped `method` (e.g. "IDeskBand::GetBandInfo"),
// once per escape, on the thread that called the method. What the handler
// itself throws is swallowed.
using ComBoundaryHandler = void (*)(const std::exception_ptr& error, const char* method);

// Installs `handler` for the whole process; answers the one it replaces.
ComBoundaryHandler SetComBoundaryHandler(ComBoundaryHandler handler) noexcept;

namespace detail {

// The body, called through a plain function pointer, so that the one catch
// lives out of line in com_boundary_win.cpp instead of in every method.
struct ComBody {
  HRESULT (*call)(void* body) = nullptr;
  void* body = nullptr;
};

HRESULT RunAtComBoundary(const char* method, HRESULT fixed_result, ComBody body) noexcept;

}  // namespace detail

// Runs `body` (callable as HRESULT()) and answers what it answers; when
// anything escapes it, the handler hears of it and `fixed_result` is answered.
template <typename Body>
HRESULT ComBoundary(const char* method, HRESULT fixed_result, Body&& body) noexcept {
  using Callable = std::remove_reference_t<Body>;
  static_assert(std::is_invocable_r_v<HRESULT, Callable&>, "a COM method body answers an HRESULT");
  detail::ComBody erased;
  erased.call = [](void* pointer) -> HRESULT { return (*static_cast<Callable*>(pointer))(); };
  erased.body = const_cast<void*>(static_cast<const void*>(std::addressof(body)));
  return detail::RunAtComBoundary(method, fixed_result, erased);
}

}  // namespace vellum::shellext
