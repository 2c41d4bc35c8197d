#include "winsys/x11_titles.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string_view>
#include <utility>

#include "winsys/title_store.h"
#include "winsys/x11_text.h"

namespace {

// Bytes of a request that are not the property data (header and BIG-REQUESTS length).
constexpr std::size_t kRequestOverhead = 64;

}  // namespace

std::string Titles::Read(xcb_window_t w, std::size_t max) {
    // Each byte of a title gives at least one byte of UTF-8, except for COMPOUND_TEXT's escape
    // sequences, which are read further below if they took the room.
    const Atoms& atom = x_.atom();
    const auto units = static_cast<std::uint32_t>(std::min<std::size_t>((max + 3) / 4, UINT32_MAX));
    const auto net_cookie = x_.AskProperty(w, atom.net_wm_name, atom.utf8_string, 0, units);
    const auto wm_cookie = x_.AskProperty(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, units);
    x_.Wait();
    const auto net = x_.Get(xcb_get_property_reply, net_cookie);
    const auto wm = x_.Get(xcb_get_property_reply, wm_cookie);
    if (net && net->type == atom.utf8_string && net->format == 8) {
        return x11_text::ValidUtf8(Bytes(net.get()), net->bytes_after > 0);
    }
    if (!wm || wm->format != 8) {
        return {};
    }
    const bool more = wm->bytes_after > 0;
    if (wm->type == XCB_ATOM_STRING) {
        return x11_text::Latin1ToUtf8(Bytes(wm.get()));
    }
    if (wm->type == atom.utf8_string) {
        return x11_text::ValidUtf8(Bytes(wm.get()), more);
    }
    if (wm->type != atom.compound_text) {
        return {};
    }
    std::string ctext(Bytes(wm.get()));
    std::string text = x11_text::CompoundTextToUtf8(ctext, more);
    // Escape sequences take room without giving text; up to four times the room is read for
    // them, which real titles never need, so that a title made of nothing else stays cheap.
    std::uint32_t offset = units;
    bool rest = more;
    while (rest && text.size() < max && ctext.size() < 4 * max + 16) {
        const auto cookie = x_.AskProperty(w, XCB_ATOM_WM_NAME, atom.compound_text, offset, units);
        x_.Wait();
        const auto r = x_.Get(xcb_get_property_reply, cookie);
        if (!r || r->type != atom.compound_text || r->format != 8) {
            break;
        }
        ctext.append(Bytes(r.get()));
        offset += units;
        rest = r->bytes_after > 0;
        text = x11_text::CompoundTextToUtf8(ctext, rest);
    }
    return text;
}

RawTitle Titles::Encode(std::string utf8) const {
    // One request carries a property; a text longer than the largest request is cut to fit.
    const std::size_t limit = x_.max_request_bytes() - kRequestOverhead;
    utf8.resize(x11_text::Utf8PrefixLength(utf8, limit));
    std::string wm_name;
    xcb_atom_t wm_type = XCB_ATOM_STRING;
    if (std::optional<std::string> latin1 = x11_text::Utf8ToLatin1(utf8)) {
        wm_name = std::move(*latin1);
    } else {
        wm_type = x_.atom().compound_text;
        std::string_view shorter = utf8;
        wm_name = x11_text::Utf8ToCompoundText(shorter);
        while (wm_name.size() > limit) {  // escape sequences made it longer than the UTF-8
            shorter =
                shorter.substr(0, x11_text::Utf8PrefixLength(shorter, shorter.size() / 4 * 3));
            wm_name = x11_text::Utf8ToCompoundText(shorter);
        }
    }
    return {{x_.atom().utf8_string, 8, std::move(utf8)}, {wm_type, 8, std::move(wm_name)}};
}

bool Titles::ReadRaw(xcb_window_t w, RawTitle* title) {
    constexpr auto kUnits = static_cast<std::uint32_t>(kMaxTitleBytes / 4);
    const xcb_atom_t net_wm_name = x_.atom().net_wm_name;
    const auto net_cookie = x_.AskProperty(w, net_wm_name, XCB_GET_PROPERTY_TYPE_ANY, 0, kUnits);
    const auto wm_cookie =
        x_.AskProperty(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, kUnits);
    x_.Wait();
    const auto net = x_.Get(xcb_get_property_reply, net_cookie);
    const auto wm = x_.Get(xcb_get_property_reply, wm_cookie);
    const auto raw = [this](const xcb_get_property_reply_t* r) {
        RawProperty p;
        if (r == nullptr || r->type == XCB_ATOM_NONE) {
            return p;
        }
        p.type = r->type;
        p.format = r->format;
        p.bytes = Bytes(r);
        if (r->bytes_after > 0 && r->type == x_.atom().utf8_string) {
            p.bytes = x11_text::ValidUtf8(p.bytes, true);
        }
        return p;
    };
    *title = {raw(net.get()), raw(wm.get())};
    return net && wm;
}

bool Titles::WriteRaw(xcb_window_t w, const RawTitle& title) {
    X11Connection::Trap trap(x_);
    for (const auto& [property, value] : {std::pair{x_.atom().net_wm_name, &title.net_wm_name},
                                          {XCB_ATOM_WM_NAME, &title.wm_name}}) {
        if (value->type == XCB_ATOM_NONE) {
            trap.Check(xcb_delete_property_checked(x_.xcb(), w, property));
        } else {
            trap.Check(xcb_change_property_checked(
                x_.xcb(), XCB_PROP_MODE_REPLACE, w, property, value->type, value->format,
                static_cast<std::uint32_t>(value->bytes.size() / (value->format / 8)),
                value->bytes.data()));
        }
    }
    return !trap.Failed();
}
