// The registry file: whatever parses must write out as text that parses to the same keys and
// values, and writing that again must give the same text.
#include "FuzzCheck.h"
#include "winsys/regfile.h"

namespace {

bool sameHive(const regfile::Hive& a, const regfile::Hive& b)
{
    if (a.keys.size() != b.keys.size())
        return false;
    for (std::size_t k = 0; k < a.keys.size(); ++k) {
        const regfile::Key& x = a.keys[k];
        const regfile::Key& y = b.keys[k];
        if (x.path != y.path || x.values.size() != y.values.size())
            return false;
        for (std::size_t v = 0; v < x.values.size(); ++v)
            if (x.values[v].name != y.values[v].name || x.values[v].type != y.values[v].type ||
                x.values[v].data != y.values[v].data)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    regfile::Hive hive;
    if (!regfile::parse(fuzzInput(data, size), hive))
        return 0;
    const std::string text = regfile::serialize(hive);
    regfile::Hive again;
    FUZZ_CHECK(regfile::parse(text, again));
    FUZZ_CHECK(sameHive(hive, again));
    FUZZ_CHECK(regfile::serialize(again) == text);
    return 0;
}
