// The one DNS exchange of direct delivery: an MX query for a domain and the
// mail exchanger named by the reply. Replies come from the network, so the
// parser treats every byte as hostile: each read is checked, compression
// pointers are followed a bounded number of times, and a reply it cannot
// make sense of simply gives no host.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vellum::exceptlog {

// Identifier "AA", recursion desired, one question of type MX, class IN.
std::string BuildMxQuery(std::string_view domain);

// The exchange name of the first MX answer record of a reply to the query
// above, or empty when the reply holds none.
std::string ParseMxAnswer(std::span<const std::uint8_t> reply);

// The domain of an e-mail address: the text after its first "@", or the
// whole address when it has none.
std::string MailDomain(std::string_view address);

}  // namespace vellum::exceptlog
