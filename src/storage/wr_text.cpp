#include "storage/wr_text.h"

#include <algorithm>

#include "storage/locked_replace.h"
#include "storage/text_codec.h"

namespace tovlane {
Result<std::string> WRText::RFile() const {
    if (!isExistingRegularFile(FileName))
        return std::string();
    auto file = readRegularFile(FileName);
    if (!file && file.error().code == ErrorCode::FileMissing)  // gone since the test
        return Error{ErrorCode::NotRegularFile, file.error().reason};
    if (!file)
        return file.error();
    if (std::string_view(*file).starts_with(kUtf8ByteOrderMark))
        file->erase(0, kUtf8ByteOrderMark.size());
    // CP932 stays as it is; UTF-8 is converted, never taking more bytes.
    // Line ends go last, so a lead byte before one is not joined to the
    // next line's first byte.
    std::string text = std::move(*file);
    if (isValidUtf8(text))
        text = encodeCp932(text);
    else
        repairCp932(text);
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

Status WRText::WFile() {
    Status written = editFile(FileName, [this](std::string) { return WText; });
    if (written)
        WText.clear();
    return written;
}

}  // namespace tovlane
