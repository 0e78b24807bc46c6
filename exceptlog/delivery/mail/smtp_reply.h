// Reading what an SMTP server answers. Replies come from the network, so
// every function takes any bytes at all and reads only within them.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace vellum::exceptlog {

// The length of the whole reply `text` starts with, through the line end of
// its final line (the code, then a blank or the line end; continuation lines
// have a hyphen after the code); 0 while it is not yet whole. A server that
// takes commands pipelined answers several at once: what follows the first
// reply is the next one's.
std::size_t SmtpReplyLength(std::string_view text);

// The number the reply starts with; nothing when it starts with no digit or
// with more digits than any code has.
std::optional<unsigned long> SmtpReplyCode(std::string_view reply);

// Whether an EHLO reply lists the extension `keyword` (compared without
// case) as the first word of one of its lines after the greeting line.
bool SmtpReplyOffers(std::string_view ehlo_reply, std::string_view keyword);

}  // namespace vellum::exceptlog
