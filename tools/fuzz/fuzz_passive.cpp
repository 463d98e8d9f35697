// 227 (PASV) and 229 (EPSV) replies: the port must be one the reply really names.
#include "FuzzCheck.h"
#include "wininet/FtpSession.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string_view text = fuzzInput(data, size);
    const std::uint16_t extended = wininet::parseEpsvReply(text);
    FUZZ_CHECK(extended == 0 || text.find('(') != std::string_view::npos);
    const std::uint16_t passive = wininet::parsePasvReply(text);
    FUZZ_CHECK(passive == 0 || text.find(',') != std::string_view::npos);
    return 0;
}
