// The XML copy of the log that goes with a sent report.
#pragma once

#include <string>

namespace vellum::exceptlog {

// The XML copy's name: the log file's name with extension ".xml" in
// `temporary_folder` (which ends with a path separator).
std::string XmlCopyFileName(const std::string& log_file_name, const std::string& temporary_folder);

// Writes the copy: of the temporary copy of the log file when the log goes
// as an attachment, or of the text to send when it goes in the message body.
void WriteXmlCopy(const std::string& xml_file_name, bool log_in_message_body, const std::string& log_copy_file_name,
                  const std::string& text_to_send);

}  // namespace vellum::exceptlog
