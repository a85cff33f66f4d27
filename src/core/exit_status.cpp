#include "core/exit_status.h"

namespace tovlane {

RunError runError(Error error, Ending otherwise) {
    return {error.code == ErrorCode::OutOfResources ? Ending::SystemFailure : otherwise,
            std::move(error.reason)};
}

}  // namespace tovlane
