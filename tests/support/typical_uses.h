// The typical use of both programs, one row a case: the pointer rests on another window, Escape
// captures its title into Text1, the user types over it, and Enter writes that as the window's
// title. Shared by the end-to-end tests of velmo and of Velmo.exe. The texts are UTF-8; a
// character that Velmo.exe's code page (932) cannot hold is marked with kUnheld where it is
// expected back: Velmo.exe gives the code page's default character for it, velmo the character.
#pragma once

#include <string>
#include <vector>

inline constexpr char kUnheld[] = "\uE000";

struct TypicalUse {
    const char* name;
    std::string title;     // the target's title before
    std::string captured;  // what Escape puts into Text1
    std::string typed;     // what the user then types into Text1
    std::string written;   // the target's title after Enter
};

inline const std::vector<TypicalUse>& TypicalUses() {
    const std::string u = kUnheld;
    static const std::vector<TypicalUse> uses = {
        {"Japanese", "無題 - メモ帳", "無題 - メモ帳", "落書きされた題名", "落書きされた題名"},
        {"OutsideCodePage932", "韓国語: 한", "韓国語: " + u + "한", "Ｘ한éＹ",
         "Ｘ" + u + "한" + u + "éＹ"},
        // Escape takes what a tick read: 99 bytes.
        {"LongTitle", std::string(150, 'x'), std::string(99, 'x'), std::string(3000, 'y'),
         std::string(3000, 'y')},
        {"Empty", "題名あり", "題名あり", "", ""},
        // Markup and mnemonics are text like any other, captured and written byte for byte.
        {"Markup", "日本語の題 <b>太字</b> &amp; R&D \"引用\" [*] 'x'",
         "日本語の題 <b>太字</b> &amp; R&D \"引用\" [*] 'x'", "typed title", "typed title"},
    };
    return uses;
}

// A text with its marks taken out, for a program whose window text holds every character.
inline std::string WithoutUnheldMarks(std::string text) {
    for (auto at = text.find(kUnheld); at != std::string::npos; at = text.find(kUnheld, at)) {
        text.erase(at, sizeof kUnheld - 1);
    }
    return text;
}
