// Streaming of component trees: a component's class, name, published
// properties (nested objects inline, references by name, events never) and
// owned children are written to a stream, and a new tree is read back by
// creating every class by its registered name.
//
// The format is our own and private to one process run (cloning), but it is
// read with every length and count checked against the stream, so damaged
// input ends in EReadError rather than a crash or a huge allocation.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "runtime/component/component.h"
#include "runtime/stream.h"

namespace vellum {

void WriteComponent(Stream& stream, const Component& root);

struct ReadComponentOptions {
  // Finds a referenced component that is not inside the tree being read
  // (its name may be qualified as "Owner.Name"). Unresolved references stay null.
  std::function<Component*(const std::string& name)> resolve_reference;
};

// Reads one tree; the new root has no owner. Raises EReadError on malformed
// input and EClassNotFound for a class that is not registered.
std::unique_ptr<Component> ReadComponent(Stream& stream, const ReadComponentOptions& options = {});

}  // namespace vellum
