// Text written as COMPOUND_TEXT or Latin-1 and read back.
#include "fuzz/fuzz_check.h"
#include "winsys/x11_text.h"

#include <optional>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::Read(data, size);
    const std::string text = x11_text::ValidUtf8(in.text);
    std::string carried;  // `text` less what COMPOUND_TEXT cannot carry
    bool latin1 = true;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t cp = fuzz::NextCharacter(text, &i).value();
        if (!fuzz::IsControl(cp)) {
            carried.append(text, start, i - start);
        }
        latin1 = latin1 && cp <= 0xFF;
    }
    FUZZ_CHECK(x11_text::CompoundTextToUtf8(x11_text::Utf8ToCompoundText(text)) == carried);

    FUZZ_CHECK(x11_text::Utf8ToLatin1(x11_text::Latin1ToUtf8(in.text)) == in.text);
    const std::optional<std::string> as_latin1 = x11_text::Utf8ToLatin1(text);
    FUZZ_CHECK(as_latin1.has_value() == latin1);
    FUZZ_CHECK(!as_latin1 || x11_text::Latin1ToUtf8(*as_latin1) == text);
    return 0;
}
