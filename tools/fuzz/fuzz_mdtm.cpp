// 213 replies to MDTM.
#include "FuzzCheck.h"
#include "wininet/FtpSession.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    const std::string_view text = fuzzInput(data, size);
    std::string stamp;
    if (!wininet::parseMdtmReply(text, stamp))
        return 0;
    // Fourteen digits and at most a dot and nine more, taken from the first line.
    FUZZ_CHECK(stamp.size() >= 14 && stamp.size() <= 24);
    FUZZ_CHECK(text.substr(0, text.find("\r\n")).find(stamp) == 4);
    FUZZ_CHECK(stamp.find_first_not_of("0123456789.") == std::string::npos);
    return 0;
}
