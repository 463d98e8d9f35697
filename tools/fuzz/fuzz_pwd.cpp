// 257 replies to PWD and MKD.
#include "FuzzCheck.h"
#include "wininet/FtpSession.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string_view text = fuzzInput(data, size);
    std::string path;
    if (!wininet::parsePwdReply(text, path))
        return 0;
    // The path comes from the first line and holds no line break.
    const std::string_view firstLine = text.substr(0, text.find("\r\n"));
    FUZZ_CHECK(path.size() <= firstLine.size());
    FUZZ_CHECK(path.find("\r\n") == std::string::npos);
    return 0;
}
