// CompoundTextToUtf8 on any bytes, as any X client may set them as its WM_NAME.
#include "fuzz/fuzz_check.h"
#include "winsys/x11_text.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::Read(data, size);
    const std::string text = x11_text::CompoundTextToUtf8(in.text, in.more_follows);
    FUZZ_CHECK(fuzz::IsValidUtf8(text, /*controls_allowed=*/false));
    // The most a byte can become: U+FFFD for a byte that cannot be decoded.
    FUZZ_CHECK(text.size() <= 3 * in.text.size());
    return 0;
}
