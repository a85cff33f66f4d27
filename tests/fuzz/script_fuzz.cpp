// The script file reader: the file's lines are joined with nothing between
// them, whatever the line ends, and the text is CP932 for the wire.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "fuzz_check.h"
#include "storage/text_codec.h"
#include "storage/wr_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An in-memory file, reached by name like any script file.
    static const int fd = ::memfd_create("script", 0);
    static const std::string name = "/proc/self/fd/" + std::to_string(fd);
    bool written =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size);
    assert(written);
    tovlane::WRText reader;
    reader.FileName = name;
    auto script = reader.RFile();
    assert(script.ok());

    // Line ends go, and the rest is what a CP932 server reads from the text
    // the file holds: UTF-8 converted, CP932 kept (two codes for one
    // character stay as written).
    assert(script->find_first_of("\r\n") == std::string::npos);
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.erase(0, 3);
    std::string text = tovlane::decodeFileText(bytes);
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    assert(tovlane::decodeCp932(*script) == tovlane::decodeCp932(tovlane::encodeCp932(text)));
    if (tovlane::isValidUtf8(bytes))
        assert(*script == tovlane::encodeCp932(text));
    return 0;
}
