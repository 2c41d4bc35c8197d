// Form1's texts held in two strings, for driving the handlers without a window.
#pragma once

#include <optional>
#include <string>

#include "target/target.h"

struct PlainForm final : FormTexts {
    std::string label2;
    std::string text1;
    bool text1_unconvertible = false;  // Text1 cannot be converted to window text
    int label2_writes = 0;

    std::string Label2Caption() const override { return label2; }
    void SetLabel2Caption(const std::string& caption) override {
        label2 = caption;
        ++label2_writes;
    }
    std::optional<std::string> Text1Text() const override {
        return text1_unconvertible ? std::nullopt : std::optional<std::string>(text1);
    }
    void SetText1Text(const std::string& text) override { text1 = text; }
};
