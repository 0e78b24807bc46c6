// Any bytes a server answers must be read within them: where the first
// reply ends, its code and its extensions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "exceptlog/delivery/mail/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellum::exceptlog;
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  const std::size_t length = SmtpReplyLength(reply);
  if (length > size || (length != 0 && (length < 5 || reply.substr(length - 2, 2) != "\r\n"))) std::abort();
  // A reply is whole by its own bytes, whatever follows it.
  if (length != 0 && SmtpReplyLength(reply.substr(0, length)) != length) std::abort();
  const auto code = SmtpReplyCode(reply);
  if (code && *code > 999999999) std::abort();
  SmtpReplyOffers(reply, "STARTTLS");
  SmtpReplyOffers(reply, "");
  return 0;
}
