// The MX lookup that direct delivery needs: the system's DNS servers, asked
// over UDP for a domain's mail exchanger.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellum::exceptlog {

inline constexpr const char* kFallbackDnsServer = "9.9.9.9";

// The system's DNS servers, then the fixed fall-back, so never empty.
std::vector<std::string> GetDNSServers();
// Raises ERuzadaSocketError "Cannot resolve the "<domain>" MX record."
std::string ResolveMXHost(const std::string& address, std::uint32_t timeout,
                          const std::vector<std::string>& servers = {});

}  // namespace vellum::exceptlog
