// Base64 with the standard alphabet and "=" padding: SMTP credentials, mail
// attachments (in lines) and the readable form of names that cannot be
// deciphered. Texts are encoded byte for byte in their 8-bit form.
#pragma once

#include <cstddef>
#include <string>

namespace vellum::exceptlog {

// 4 characters for every started group of 3 bytes. Raises EOutOfMemory when
// the text's length would not fit in a size_t.
std::size_t Base64EncodedSize(std::size_t size);
std::string Base64FromBytes(const void* data, std::size_t size);
std::string Base64FromText(const std::string& text);
// The same text broken into lines of `line_length` characters (a multiple of
// 4, at least 4), each full line followed by CR LF; a last shorter line has
// none. Encoded straight into its lines, as attachments run to megabytes.
std::string Base64LinesFromBytes(const void* data, std::size_t size, std::size_t line_length);
// The length of those lines, and the lines appended to `text`, so that a
// message is built in one buffer.
std::size_t Base64LinesSize(std::size_t size, std::size_t line_length);
void AppendBase64Lines(std::string& text, const void* data, std::size_t size, std::size_t line_length);

}  // namespace vellum::exceptlog
