// The multipart/form-data body of a web upload: the custom fields first,
// then every report file that exists as "el_upload_file_<index>", the index
// being the file's place in the send list (skipped files leave gaps).
#pragma once

#include <string>
#include <vector>

namespace vellum::exceptlog {

// 27 hyphens and three random 16-bit numbers (0..65534) in upper-case hex.
std::string NewFormBoundary();

// Names, values and file names made only of token characters are written
// bare, as servers of this form know them; any other is quoted, with its
// quotes, CR and LF escaped, so that it cannot break the part or add
// parameters. Fields pair up to the shorter of the two lists.
std::string BuildFormData(const std::vector<std::string>& files, const std::vector<std::string>& display_names,
                          const std::vector<std::string>& field_names, const std::vector<std::string>& field_values,
                          const std::string& boundary);

}  // namespace vellum::exceptlog
