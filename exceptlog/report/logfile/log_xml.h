// The XML form of stored reports: one "Log" element per entry with its
// general fields, thread stacks, modules and processor state, read back from
// the report text by the section readers.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::exceptlog {

class TXMLItem;

std::unique_ptr<TXMLItem> GeneralXmlItem(std::string_view entry);
std::unique_ptr<TXMLItem> CallStackXmlItem(std::string_view entry);
std::unique_ptr<TXMLItem> ModulesXmlItem(std::string_view entry);
std::unique_ptr<TXMLItem> CpuXmlItem(std::string_view entry);

std::string EntryGeneralXml(std::string_view entry);
std::string EntryCallStackXml(std::string_view entry);
std::string EntryModulesXml(std::string_view entry);
std::string EntryCpuXml(std::string_view entry);
// Empty for reports of 5.0.0 and later, which carry no steps to reproduce.
std::string EntryReproduceXml(std::string_view entry);
std::string EntryReportXml(std::string_view entry);
// The whole document, CR LF after every line: the bytes of an XML file.
std::string EntriesDocumentXml(const std::vector<std::string>& entries);

// Nesting of calling threads deeper than this is flattened: a real program's
// chain of creating threads is short, and a damaged log must not build a
// tree whose indentation alone grows with the square of its depth.
inline constexpr int kMaxCallingThreadDepth = 32;

}  // namespace vellum::exceptlog
