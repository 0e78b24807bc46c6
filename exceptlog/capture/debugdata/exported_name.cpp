// Names for addresses in modules without debug data, taken from the export
// table. Mangled names of the form "@Unit@Class@Method$signature" carry unit,
// class and method; dotted names carry unit and procedure.
#include <vector>

#include "exceptlog/capture/debugdata/debug_data.h"

namespace vellum::exceptlog {
namespace {

std::string Demangled(std::string name) {
  name.resize(name.find('$'));
  if (!name.empty() && name.back() == '@') name.pop_back();
  if (!name.empty() && name.front() == '@') name.erase(0, 1);
  const std::size_t double_at = name.find("@@");
  if (double_at != std::string::npos) name = name.substr(0, double_at) + '_' + name.substr(double_at + 2);
  for (char& c : name) {
    if (c == '@') c = '.';
  }
  return name;
}

std::vector<std::string> SplitAtDots(const std::string& name) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t dot; (dot = name.find('.', start)) != std::string::npos; start = dot + 1) {
    parts.push_back(name.substr(start, dot - start));
  }
  parts.push_back(name.substr(start));
  return parts;
}

}  // namespace

std::optional<ExportedNameParts> ResolveExportedName(const std::string& exported_name) {
  if (exported_name.empty() || exported_name.front() == '?') return std::nullopt;
  const bool mangled = exported_name.front() == '@' && exported_name.find('$') != std::string::npos;
  const std::string name = mangled ? Demangled(exported_name) : exported_name;

  ExportedNameParts parts;
  const std::vector<std::string> pieces = SplitAtDots(name);
  if (pieces.size() == 1) {
    parts.Kind = 2;
    parts.ProcedureName = name;
  } else {
    parts.Kind = 3;
    parts.UnitName = pieces.front() + ".pas";
    parts.ProcedureName = pieces.back();
    // More than three parts: everything between unit and procedure names the
    // (nested) class.
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
      if (i > 1) parts.ClassName += '.';
      parts.ClassName += pieces[i];
    }
  }
  if (!parts.ProcedureName.empty() && parts.ProcedureName.front() == '@') parts.ProcedureName.front() = '_';
  return parts;
}

}  // namespace vellum::exceptlog
