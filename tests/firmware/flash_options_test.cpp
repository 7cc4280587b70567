// hubflash's command line read without running the program.
#include "flash_options.h"

#include <gtest/gtest.h>

#include "hublink/protocol.h"

namespace hubflash {
namespace {

// A password goes into the "EUFW" line as typed: whatever cannot travel in
// a command line is refused before a hub is asked.
TEST(FlashOptions, PasswordsThatCannotBeSentAreRefused) {
    const struct {
        const char* name;
        std::string password;
        bool accepted;
    } cases[] = {
        {"plain", "secret", true},
        {"blank inside", "pass word", true},
        {"two-byte letters", "p\xC3\xA4ss", true},
        {"three-byte sign", "\xE2\x82\xAC" "uro", true},
        {"CR and a second command", "pw\rRH", false},
        {"DEL", "pw\x7F", false},
        {"C1 next line", "pw\xC2\x85", false},
        {"C1 CSI", "\xC2\x9B" "2J", false},
        {"stray continuation byte", "pw\x80", false},
        {"cut sequence", "pw\xC3", false},
        {"overlong slash", "\xC0\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"0xFF", "pw\xFF", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = parseFlashOptions({"-p", c.password, "/dev/ttyUSB0", "fw.enc"});
        EXPECT_EQ(parsed.options.has_value(), c.accepted) << parsed.error;
        if (parsed.options)
            EXPECT_EQ(parsed.options->password, hublink::windowPasswordField(c.password));
        else
            EXPECT_EQ(parsed.error, "the password holds a control character");
    }
}

}  // namespace
}  // namespace hubflash
