#include "storage/wr_text.h"

#include <algorithm>

#include "storage/file_io.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Line ends are dropped with nothing in their place, so lines meet directly.
std::string joinScriptLines(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

}  // namespace

Result<std::string> WRText::RFile() const {
    if (!isExistingRegularFile(FileName))
        return std::string();
    auto file = readWholeFile(FileName);
    if (!file)
        return Error{ErrorCode::FileUnreadable, file.error().reason};
    std::string_view bytes = *file;
    if (bytes.starts_with(kUtf8ByteOrderMark))
        bytes.remove_prefix(kUtf8ByteOrderMark.size());
    return joinScriptLines(decodeFileText(bytes));
}

Status WRText::WFile() {
    Status written = writeFileAtomically(FileName, WText);
    if (written)
        WText.clear();
    return written;
}

}  // namespace tovlane
