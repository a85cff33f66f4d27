#include "storage/wr_text.h"

#include <algorithm>

#include "storage/file_io.h"
#include "storage/text_codec.h"

namespace tovlane {
Result<std::string> WRText::RFile() const {
    if (!isExistingRegularFile(FileName))
        return std::string();
    auto file = readRegularFile(FileName);
    if (!file) {
        if (file.error().code == ErrorCode::FileMissing)
            return std::string();
        return file.error();
    }
    if (std::string_view(*file).starts_with(kUtf8ByteOrderMark))
        file->erase(0, kUtf8ByteOrderMark.size());
    // Line ends are dropped with nothing in their place, so lines meet
    // directly; the text is edited in place so a big file is held once.
    std::string text = decodeFileText(std::move(*file));
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
