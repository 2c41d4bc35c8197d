#include "winsys/x11_text.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <memory>
#include <utility>

#include "winsys/x11_text_internal.h"

namespace x11_text {
namespace {

// An iconv descriptor between two named encodings. Opening one loads a conversion module, so
// each pair is opened once per thread and kept.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != kInvalid) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Appends all of `in` converted; false, with `out` as it was, if any of it is invalid or
    // has no exact counterpart.
    bool Convert(std::string_view in, std::string* out) {
        if (cd_ == kInvalid) {
            return false;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        const std::size_t old_size = out->size();
        char* src = const_cast<char*>(in.data());
        std::size_t src_left = in.size();
        while (true) {
            char buf[256];
            char* dst = buf;
            std::size_t dst_left = sizeof buf;
            const std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
            out->append(buf, static_cast<std::size_t>(dst - buf));
            if (r == static_cast<std::size_t>(-1) && errno == E2BIG) {
                continue;
            }
            if (r != 0 || src_left != 0) {  // invalid input, or converted only approximately
                out->resize(old_size);
                return false;
            }
            return true;  // none of the encodings used here has a shift state to close
        }
    }

    // Appends all of `in` converted, with U+FFFD for each byte that cannot be.
    void ConvertLossy(std::string_view in, std::string* out) {
        if (cd_ == kInvalid) {
            out->append(kReplacement);
            return;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t src_left = in.size();
        while (src_left > 0) {
            char buf[256];
            char* dst = buf;
            std::size_t dst_left = sizeof buf;
            const std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
            out->append(buf, static_cast<std::size_t>(dst - buf));
            if (r != static_cast<std::size_t>(-1) || errno == E2BIG) {
                continue;
            }
            out->append(kReplacement);
            if (errno == EILSEQ) {
                ++src;
                --src_left;
            } else {
                break;  // cut off at the end
            }
        }
    }

  private:
    static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
    iconv_t cd_;
};

Converter& ConverterFor(const char* to, const char* from) {
    thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> cache;
    auto& slot = cache[{to, from}];
    if (!slot) {
        slot = std::make_unique<Converter>(to, from);
    }
    return *slot;
}

}  // namespace

Decoded DecodeUtf8(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        return {b0, 1, Decoded::kOk};
    }
    std::size_t n = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        cp = b0 & 0x0F;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        cp = b0 & 0x07;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0, 1, Decoded::kIllFormed};
    }
    for (std::size_t k = 1; k < n; ++k) {
        if (i + k >= s.size()) {
            return {0, k, Decoded::kCutOff};
        }
        const auto b = static_cast<unsigned char>(s[i + k]);
        if (b < lo || b > hi) {
            return {0, k, Decoded::kIllFormed};
        }
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    return {cp, n, Decoded::kOk};
}

void AppendUtf8(std::string* out, char32_t cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void AppendCharacter(const char* charset, std::string_view bytes, std::string* out) {
    if (!ConverterFor("UTF-8", charset).Convert(bytes, out)) {
        out->append(kReplacement);
    }
}

void AppendRun(const char* charset, std::string_view bytes, std::string* out) {
    ConverterFor("UTF-8", charset).ConvertLossy(bytes, out);
}

bool FromUtf8(const char* charset, std::string_view text, std::string* out) {
    return ConverterFor(charset, "UTF-8").Convert(text, out);
}

std::string ValidUtf8(std::string_view bytes, bool more_follows) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const Decoded d = DecodeUtf8(bytes, i);
        if (d.kind == Decoded::kOk) {
            out.append(bytes.substr(i, d.length));
        } else if (d.kind == Decoded::kCutOff && more_follows) {
            break;
        } else {
            out.append(kReplacement);
        }
        i += d.length;
    }
    return out;
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) {
        return text.size();
    }
    std::size_t n = max_bytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    return n;
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (const char c : latin1) {
        AppendUtf8(&out, static_cast<unsigned char>(c));
    }
    return out;
}

std::optional<std::string> Utf8ToLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Decoded d = DecodeUtf8(text, i);
        if (d.kind != Decoded::kOk || d.code_point > 0xFF) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(d.code_point));
        i += d.length;
    }
    return out;
}

}  // namespace x11_text
