#include "storage/wr_text.h"

#include <algorithm>

#include "storage/file_io.h"
#include "storage/locked_replace.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

// A script file's bytes as the wire carries them, their lines run together.
std::string lineOfScript(std::string text) {
    if (std::string_view(text).starts_with(kUtf8ByteOrderMark))
        text.erase(0, kUtf8ByteOrderMark.size());
    // CP932 stays as it is; UTF-8 is converted, never taking more bytes.
    // Line ends go last, so a lead byte before one is not joined to the
    // next line's first byte.
    if (isValidUtf8(text))
        text = encodeCp932(text);
    else
        repairCp932(text);
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

}  // namespace

Result<std::string> WRText::RFile() const {
    if (!isExistingRegularFile(FileName))
        return std::string();
    auto script = ReadFile(FileName);
    if (!script && script.error().code == ErrorCode::FileMissing)  // gone since the test
        return Error{ErrorCode::NotRegularFile, script.error().reason};
    return script;
}

Result<std::string> WRText::ReadFile(const std::string& path) {
    auto file = readRegularFile(path);
    if (!file)
        return file.error();
    return lineOfScript(std::move(*file));
}

Result<std::string> WRText::FromStream(int fd, std::size_t limit) {
    auto bytes = readStream(fd, limit);
    if (!bytes)
        return bytes.error();
    return lineOfScript(std::move(*bytes));
}

Status WRText::WFile() {
    Status written = editFile(FileName, [this](std::string) { return WText; });
    if (written)
        WText.clear();
    return written;
}

}  // namespace tovlane
