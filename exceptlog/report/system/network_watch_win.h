// The system's word that the network adapters a report lists may have
// changed: an address (NotifyAddrChange), a route, which holds the gateway
// (NotifyRouteChange), or the interfaces' registry settings, which hold the
// DNS servers and DHCP. iphlpapi is looked up at run time; where a source
// cannot be watched (Wine answers no route changes and has no interfaces key)
// it is left out, and without the address watch nothing is watched at all.
#pragma once

#include <memory>

#include "exceptlog/report/system/machine_facts_win.h"

namespace vellum::exceptlog {

class NetworkChangeWatch final : public ChangeWatch {
 public:
  NetworkChangeWatch();
  ~NetworkChangeWatch() override;
  NetworkChangeWatch(const NetworkChangeWatch&) = delete;
  NetworkChangeWatch& operator=(const NetworkChangeWatch&) = delete;

  bool Arm() override;
  bool Changed() override;

 private:
  struct Watches;
  std::unique_ptr<Watches> watches_;
};

}  // namespace vellum::exceptlog
