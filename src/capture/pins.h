#pragma once
// Pin-list helpers shared by the capture workflow's handlers.

#include "mediagraph/dsutil.h"
#include "mediagraph/mediatype.h"

namespace ronvix::app {

// Removes the pins of direction `dir` from `pins`, keeping the others in
// order; each removed pin's media types replace the content of `types`
// (when given).
void TakePins(mediagraph::TPinList& pins, media::PIN_DIRECTION dir,
              mediagraph::TEnumMediaType* types = nullptr);

}  // namespace ronvix::app
