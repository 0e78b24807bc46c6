#pragma once

namespace vellum {

// What a sorted string list or a locked list does with an item it already
// holds: keep the one it has, add the new one as well, or raise EListError.
enum DuplicatesMode { dupIgnore, dupAccept, dupError };

}  // namespace vellum
