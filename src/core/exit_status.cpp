#include "core/exit_status.h"

namespace tovlane {

ErrorEnd errorEnd(ErrorCode code) {
    switch (code) {
        case ErrorCode::RefusedByServer:
            return {kExitRefusedByServer, true};
        case ErrorCode::NotANumber:
            return {kExitNotANumber, false};
        case ErrorCode::OutOfRange:
            return {kExitOutOfRange, false};
        case ErrorCode::NoSuchEntry:
            return {kExitNoSuchEntry, false};
        case ErrorCode::EmptyEntry:
            return {kExitEmptyEntry, true};
        case ErrorCode::BadProtocolId:
            return {kExitBadProtocolId, false};
        case ErrorCode::BadPort:
            return {kExitBadPort, false};
        case ErrorCode::ConnectionFailed:
            return {kExitConnectionFailed, true};
        case ErrorCode::SettingsUnreadable:
            return {kExitSettingsUnreadable, false};
        case ErrorCode::SystemFailure:
            return {kExitSystemFailure, false};
        case ErrorCode::UnreadableScript:
        case ErrorCode::FileMissing:
        case ErrorCode::FileUnreadable:
        case ErrorCode::NotRegularFile:
        case ErrorCode::FileUnwritable:
        case ErrorCode::UnstorableValue:
            break;
    }
    // Storage errors reach the top only as the script file that failed.
    return {kExitUnreadableScript, false};
}

}  // namespace tovlane
