// ValidUtf8 on any bytes, then Utf8PrefixLength on its result at any limit.
#include "fuzz/fuzz_check.h"
#include "winsys/x11_text.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::Read(data, size);
    const std::string valid = x11_text::ValidUtf8(in.text, in.more_follows);
    FUZZ_CHECK(fuzz::IsValidUtf8(valid));
    FUZZ_CHECK(!fuzz::IsValidUtf8(in.text) || valid == in.text);

    const std::size_t n = x11_text::Utf8PrefixLength(valid, in.limit);
    FUZZ_CHECK(n <= in.limit || n == valid.size());
    FUZZ_CHECK(n <= valid.size() && fuzz::IsValidUtf8(valid.substr(0, n)));
    // The longest such start: the next character would pass the limit.
    std::size_t next = n;
    FUZZ_CHECK(n == valid.size() || (fuzz::NextCharacter(valid, &next) && next > in.limit));
    return 0;
}
