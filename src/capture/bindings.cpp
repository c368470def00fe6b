// Binds the capture workflow's handlers to the main window's controls and
// components.

#include "app/mainform.h"

namespace ronvix::app {

void TMainForm::BindCaptureHandlers() {
    // FIXME: the capture workflow's handlers are bound here as they are built.
}

}  // namespace ronvix::app
