// Control connection replies: the input is what a server sends, split into lines as the socket
// code splits it, and gathered into replies one after the other.
#include "FuzzCheck.h"
#include "wininet/ControlChannel.h"

#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    using wininet::ReplyAssembler;
    std::string_view input = fuzzInput(data, size);
    wininet::FtpReply reply;
    std::optional<ReplyAssembler> assembler(std::in_place, reply);
    std::size_t linesInReply = 0;
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++linesInReply;
        switch (assembler->addLine(line)) {
        case ReplyAssembler::Step::More:
            FUZZ_CHECK(reply.code >= 100 && reply.code <= 599);
            break;
        case ReplyAssembler::Step::Done:
            FUZZ_CHECK(reply.code >= 100 && reply.code <= 599);
            FUZZ_CHECK(reply.text.size() >= 5 && reply.text.ends_with("\r\n"));
            FUZZ_CHECK(reply.text.find('\0') == std::string::npos);
            FUZZ_CHECK(reply.text.size() <= wininet::kMaxReplyText + wininet::kMaxReplyLine + 2);
            FUZZ_CHECK(wininet::replyCode(std::string_view(reply.text).substr(0, 3)) == reply.code);
            FUZZ_CHECK(linesInReply == 1 || reply.text[3] == '-');
            linesInReply = 0;
            assembler.emplace(reply);
            break;
        case ReplyAssembler::Step::Malformed:
            return 0; // the connection is dropped here
        }
    }
    return 0;
}
