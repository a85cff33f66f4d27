#pragma once

#include <string_view>

namespace tovlane {

// Shows a failed run's reason as a desktop notification through notify-send,
// waiting for it to hand the message over. False when notify-send is not on
// PATH or could not show it. Run only when something failed: the success
// path starts nothing.
bool notifyDesktop(std::string_view reason);

}  // namespace tovlane
