// Any bytes a server answers must be read within them: whether a reply is
// whole, its code and its extensions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "exceptlog/delivery/mail/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellum::exceptlog;
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const bool complete = SmtpReplyIsComplete(reply);
  if (complete && (size < 5 || reply.substr(size - 2) != "\r\n")) std::abort();
  const auto code = SmtpReplyCode(reply);
  if (code && *code > 999999999) std::abort();
  SmtpReplyOffers(reply, "STARTTLS");
  SmtpReplyOffers(reply, "");
  return 0;
}
