#include "exceptlog/report/logfile/log_xml_copy.h"

#include "exceptlog/report/logfile/log_file.h"

namespace vellum::exceptlog {

std::string XmlCopyFileName(const std::string& log_file_name, const std::string& temporary_folder) {
  const std::size_t separator = log_file_name.find_last_of("\\/:");
  std::string name = separator == std::string::npos ? log_file_name : log_file_name.substr(separator + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return temporary_folder + name + ".xml";
}

void WriteXmlCopy(const std::string& xml_file_name, bool log_in_message_body, const std::string& log_copy_file_name,
                  const std::string& text_to_send) {
  if (!log_in_message_body) {
    TLogFile(log_copy_file_name, true).SaveXml(xml_file_name);
    return;
  }
  TLogFile log;
  log.AddReport(text_to_send, 1);
  log.SaveXml(xml_file_name);
}

}  // namespace vellum::exceptlog
