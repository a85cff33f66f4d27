#include "storage/wr_text.h"

#include "storage/file_io.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string joinScriptLines(std::string_view text) {
    std::string joined;
    joined.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n')
            joined += c;
    }
    return joined;
}

std::string WRText::RFile() const {
    if (!isExistingRegularFile(FileName))
        return {};
    FileBytes file = readWholeFile(FileName);
    if (!file.ok())
        throw FileAccessError(FileName, systemReason(file.error));
    std::string_view bytes = file.bytes;
    if (bytes.starts_with(kUtf8ByteOrderMark))
        bytes.remove_prefix(kUtf8ByteOrderMark.size());
    return joinScriptLines(decodeFileText(bytes));
}

void WRText::WFile() {
    if (auto failure = writeFileAtomically(FileName, WText)) {
        throw FileAccessError(FileName, *failure);
    }
    WText.clear();
}

}  // namespace tovlane
