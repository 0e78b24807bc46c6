#include "exceptlog/report/system/network_watch_win.h"

#include <windows.h>
#include <iphlpapi.h>

#include <array>

#include "exceptlog/report/system/system_facts_win.h"
#include "runtime/win/entry_point_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {

namespace {

constexpr char kInterfacesKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";

enum Source { kAddresses, kRoutes, kSettings, kSources };

}  // namespace

// The pending notifications write into these OVERLAPPED structures and set
// these events: they stay where they are until every notification is
// cancelled.
struct NetworkChangeWatch::Watches {
  decltype(NotifyAddrChange)* notify_address = nullptr;
  decltype(NotifyRouteChange)* notify_route = nullptr;
  decltype(CancelIPChangeNotify)* cancel = nullptr;
  std::array<win::UniqueKernelHandle, kSources> changed;  // manual reset
  std::array<OVERLAPPED, kSources> overlapped{};
  std::array<bool, kSources> watching{};
  win::UniqueRegKey settings;
};

NetworkChangeWatch::NetworkChangeWatch() : watches_(std::make_unique<Watches>()) {
  HMODULE library = IpHelperLibrary();
  watches_->notify_address = win::LookUpEntryPoint<decltype(NotifyAddrChange)>(library, "NotifyAddrChange");
  watches_->notify_route = win::LookUpEntryPoint<decltype(NotifyRouteChange)>(library, "NotifyRouteChange");
  watches_->cancel = win::LookUpEntryPoint<decltype(CancelIPChangeNotify)>(library, "CancelIPChangeNotify");
  for (auto& event : watches_->changed) event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInterfacesKey, 0, KEY_NOTIFY, &key) == ERROR_SUCCESS) {
    watches_->settings.reset(key);
  }
}

NetworkChangeWatch::~NetworkChangeWatch() {
  bool cancelled = true;
  for (const Source source : {kAddresses, kRoutes}) {
    if (!watches_->watching[source] || HasOverlappedIoCompleted(&watches_->overlapped[source])) continue;
    cancelled = watches_->cancel != nullptr && watches_->cancel(&watches_->overlapped[source]) &&
                WaitForSingleObject(watches_->changed[source].get(), 1000) == WAIT_OBJECT_0 && cancelled;
  }
  // A notification that cannot be cancelled (Wine's cancel does nothing)
  // would still write into the structures: they are left to it, a few bytes
  // and three events for the rest of the process, none of them leading into
  // this module's code.
  if (!cancelled) static_cast<void>(watches_.release());
}

bool NetworkChangeWatch::Arm() {
  Watches& w = *watches_;
  if (w.notify_address == nullptr || !w.changed[kAddresses] || !w.changed[kRoutes] || !w.changed[kSettings]) {
    return false;
  }
  // Only what has fired (or never ran) is started again: one OVERLAPPED
  // must not carry two pending notifications.
  const auto rearm = [&](Source source, auto&& start) {
    if (w.watching[source] && WaitForSingleObject(w.changed[source].get(), 0) == WAIT_TIMEOUT) return true;
    ResetEvent(w.changed[source].get());
    w.overlapped[source] = OVERLAPPED{};
    w.overlapped[source].hEvent = w.changed[source].get();
    w.watching[source] = start(w.overlapped[source]);
    return w.watching[source];
  };
  const bool addresses = rearm(kAddresses, [&](OVERLAPPED& overlapped) {
    HANDLE handle = nullptr;
    return w.notify_address(&handle, &overlapped) == ERROR_IO_PENDING;
  });
  if (!addresses) return false;
  if (w.notify_route != nullptr) {
    rearm(kRoutes, [&](OVERLAPPED& overlapped) {
      HANDLE handle = nullptr;
      return w.notify_route(&handle, &overlapped) == ERROR_IO_PENDING;
    });
  }
  if (w.settings) {
    rearm(kSettings, [&](OVERLAPPED&) {
      return RegNotifyChangeKeyValue(w.settings.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                     w.changed[kSettings].get(), TRUE) == ERROR_SUCCESS;
    });
  }
  return true;
}

bool NetworkChangeWatch::Changed() {
  for (int source = 0; source < kSources; ++source) {
    if (watches_->watching[source] && WaitForSingleObject(watches_->changed[source].get(), 0) != WAIT_TIMEOUT) {
      return true;
    }
  }
  return false;
}

}  // namespace vellum::exceptlog
