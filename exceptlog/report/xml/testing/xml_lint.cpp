#include "exceptlog/report/xml/testing/xml_lint.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vellum::exceptlog::testing {

std::optional<bool> XmlLintAccepts(const std::string& document, std::string* message) {
#ifdef _WIN32
  (void)document;
  (void)message;
  return std::nullopt;
#else
  if (std::system("xmllint --version >/dev/null 2>&1") != 0) return std::nullopt;
  char path[] = "/tmp/vellum_xml_lint_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return std::nullopt;
  FILE* file = fdopen(fd, "wb");
  std::fwrite(document.data(), 1, document.size(), file);
  std::fclose(file);
  const std::string errors = std::string(path) + ".err";
  const int status = std::system(("xmllint --noout " + std::string(path) + " 2>" + errors).c_str());
  if (message) {
    std::ifstream in(errors);
    std::ostringstream text;
    text << in.rdbuf();
    *message = text.str();
  }
  std::remove(path);
  std::remove(errors.c_str());
  return status == 0;
#endif
}

}  // namespace vellum::exceptlog::testing
