#include "core/exit_status.h"

#include <cxxabi.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>
#include <typeinfo>

#include "storage/file_io.h"
#include "storage/localized.h"

namespace tovlane {

std::string shortageOf(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr)
        return localized("the system ran short of memory", "メモリが足りません");
    const auto* failed = dynamic_cast<const std::system_error*>(&error);
    if (failed == nullptr || (failed->code().category() != std::system_category() &&
                              failed->code().category() != std::generic_category())) {
        return "";
    }
    const int code = failed->code().value();
    if (code == EAGAIN) {
        return localized("the system cannot start another thread or process",
                         "スレッドやプロセスをこれ以上作れません");
    }
    if (isResourceShortage(code))
        return localized("the system ran short: {}", "システムの資源が足りません: {}",
                         {systemText(code)});
    return "";
}

RunError endingOf(const std::exception& error) {
    if (std::string shortage = shortageOf(error); !shortage.empty())
        return {Ending::SystemFailure, std::move(shortage)};
    int failed = 0;
    char* type = abi::__cxa_demangle(typeid(error).name(), nullptr, nullptr, &failed);
    std::string name = failed == 0 ? type : typeid(error).name();
    std::free(type);
    return {Ending::InternalError,
            localized("internal error ({}: {}); please report it",
                      "内部エラーです（{}: {}）。報告してください", {name, error.what()})};
}

RunError runError(Error error, Ending otherwise) {
    return {error.code == ErrorCode::OutOfResources ? Ending::SystemFailure : otherwise,
            std::move(error.reason)};
}

}  // namespace tovlane
