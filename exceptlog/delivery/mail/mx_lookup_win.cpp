#include "exceptlog/delivery/mail/mx_lookup_win.h"

#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "exceptlog/delivery/mail/dns_message.h"
#include "exceptlog/delivery/mail/smtp_client_win.h"
#include "runtime/strings/string_utils.h"
#include "runtime/win/entry_point_win.h"
#include "runtime/win/unique_handle_win.h"

namespace vellum::exceptlog {
namespace {

constexpr int kPasses = 5;
constexpr std::uint32_t kPassGrowth = 50;
constexpr std::uint16_t kDnsPort = 53;

std::string QueryServer(const std::string& server, const std::string& query, std::uint32_t limit) {
  TRuzadaClientSocket socket(server, kDnsPort, false, limit);
  socket.Connect();
  if (socket.SendText(query) != query.size()) return {};
  std::string reply;
  socket.WaitReply(reply);
  if (reply.empty()) return {};
  return ParseMxAnswer({reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()});
}

}  // namespace

std::vector<std::string> GetDNSServers() {
  std::vector<std::string> servers;
  const win::UniqueModule library(LoadLibraryA("IPHLPAPI.DLL"));
  auto* get_network_params = win::LookUpEntryPoint<decltype(GetNetworkParams)>(library.get(), "GetNetworkParams");
  ULONG size = 0;
  if (get_network_params != nullptr && get_network_params(nullptr, &size) == ERROR_BUFFER_OVERFLOW) {
    std::vector<std::uint8_t> buffer(size);
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    if (get_network_params(info, &size) == ERROR_SUCCESS) {
      for (const IP_ADDR_STRING* entry = &info->DnsServerList; entry != nullptr; entry = entry->Next) {
        const std::string address = Trim(std::string(entry->IpAddress.String, strnlen(entry->IpAddress.String, 16)));
        if (!address.empty() && address != "0.0.0.0") servers.push_back(address);
      }
    }
  }
  servers.emplace_back(kFallbackDnsServer);
  return servers;
}

std::string ResolveMXHost(const std::string& address, std::uint32_t timeout, const std::vector<std::string>& servers) {
  const std::string domain = MailDomain(address);
  const std::vector<std::string> server_list = servers.empty() ? GetDNSServers() : servers;
  const std::string query = BuildMxQuery(domain);
  std::uint32_t limit = (timeout + 150) / 5;
  for (int pass = 0; pass < kPasses; ++pass, limit += kPassGrowth) {
    const DWORD start = GetTickCount();
    for (const auto& server : server_list) {
      try {
        const std::string host = QueryServer(server, query, limit);
        if (!host.empty()) return host;
      } catch (const ERuzadaSocketError&) {
        // One unreachable server (a refused datagram, no route to the
        // fall-back) must not keep the next one from answering.
      }
      if (GetTickCount() - start > limit) break;
    }
  }
  throw ERuzadaSocketError("Cannot resolve the \"" + domain + "\" MX record.");
}

}  // namespace vellum::exceptlog
