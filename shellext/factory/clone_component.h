// Copies of template components, made by streaming: every object a server
// hands out is a copy of a template on its data module, never the template.
#pragma once

#include <functional>
#include <memory>

#include "runtime/component/component.h"

namespace vellum::shellext {

// Writes `template_component` into a memory stream, reads a new component of
// the recorded class back (the class must be registered by name), gives it
// the template's event handlers by property name, and runs `copy_step` on
// template and copy when one is given. The copy has no owner. Errors of
// streaming and of the copy step propagate.
std::unique_ptr<Component> CloneComponent(
    const Component& template_component,
    const std::function<void(const Component& from, Component& to)>& copy_step = {});

}  // namespace vellum::shellext
