// The names the global keys are bound by.
#include "winsys/x11_global_keys.h"

#include <gtest/gtest.h>

namespace {

struct KeyNameCase {
    const char* name;
    const char* key_name;
    std::optional<KeyName> expected;
};

class KeyNames : public ::testing::TestWithParam<KeyNameCase> {};

TEST_P(KeyNames, AreModifiersAndAKeyJoinedByPlus) {
    EXPECT_EQ(ParseKeyName(GetParam().key_name), GetParam().expected);
}

using enum KeyName::Modifier;

INSTANTIATE_TEST_SUITE_P(
    Names, KeyNames,
    ::testing::Values(
        KeyNameCase{"SuperAlt", "Super+Alt+C", KeyName{kSuper | kAlt, "C"}},
        KeyNameCase{"WithShift", "Super+Alt+Shift+W", KeyName{kSuper | kAlt | kShift, "W"}},
        KeyNameCase{"ControlEitherWay", "Ctrl+Control+Return", KeyName{kControl, "Return"}},
        KeyNameCase{"InAnyOrder", "Shift+Super+F5", KeyName{kShift | kSuper, "F5"}},
        KeyNameCase{"KeyAlone", "Escape", KeyName{0, "Escape"}},
        KeyNameCase{"ThePlusKeyByItsName", "Alt+plus", KeyName{kAlt, "plus"}},
        KeyNameCase{"Empty", "", std::nullopt}, KeyNameCase{"NoKey", "Super+Alt+", std::nullopt},
        KeyNameCase{"UnknownModifier", "Hyper+A", std::nullopt},
        KeyNameCase{"ModifiersAreSpelledAsShown", "super+alt+c", std::nullopt},
        KeyNameCase{"EmptyModifier", "Alt++", std::nullopt}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
