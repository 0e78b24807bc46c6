// Base64 with the standard alphabet and "=" padding, no line breaks: SMTP
// credentials, mail attachments (which break the text into lines themselves)
// and the readable form of names that cannot be deciphered. Texts are
// encoded byte for byte in their 8-bit form.
#pragma once

#include <cstddef>
#include <string>

namespace vellum::exceptlog {

// 4 characters for every started group of 3 bytes. Raises EOutOfMemory when
// the text's length would not fit in a size_t.
std::size_t Base64EncodedSize(std::size_t size);
std::string Base64FromBytes(const void* data, std::size_t size);
std::string Base64FromText(const std::string& text);

}  // namespace vellum::exceptlog
