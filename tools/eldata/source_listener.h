// exlog listen: the developer's end of the exception dialog's source
// requests. Creates the mailslot and prints one line per request, so that a
// double click on a call stack row says where to look.
#pragma once

namespace vellum::eldata {

// Prints requests until `count` arrived (0: until interrupted); 1 when the
// mailslot cannot be created (another listener holds it).
// On other systems it says that there is no mailslot to listen on.
int ListenForSourceRequests(int count);

}  // namespace vellum::eldata
