// The dialogs on this platform: nothing waits, alerts go to standard error.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "core/Dialogs.h"
#include "core/ThreadData.h"
#include "core/Variant.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

// What a call writes to standard error.
std::string standardErrorOf(const std::function<void()>& call) {
    const std::string folder = makeTemporaryFolder("dialogs");
    const std::string path = folder + "/stderr";
    const int file = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    call();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    std::string written = readFile(path);
    removeTree(folder);
    return written;
}

TEST(Dialogs, AlertsGoToStandardErrorAndNothingWaits) {
    CoreStarted core;
    struct Case {
        std::function<void()> call;
        const char* expected;
    } cases[] = {
        {[] { showAlert(S("Hello")); }, "Script Alert: Hello\n"},
        {[] { showAlert(String(), S("Broken"), true); }, "Script Error: Broken\n"},
        {[] { showAlert(S("Title"), S("two\r\nlines\rhere")); }, "Title: two\nlines\nhere\n"},
        {[] { showAlert(S("$$$/Test/Title=Größe"), S("$$$/Test/Text=Wert")); }, "Größe: Wert\n"},
        {[] { EXPECT_TRUE(showConfirm(S("Go on?"), true)); }, ""},
        {[] { EXPECT_FALSE(showConfirm(S("T"), S("Go on?"), false)); }, ""},
        {[] {
             Variant answer(S("old"));
             showPrompt(String(), S("Name?"), S("preset"), answer);
             EXPECT_EQ(answer.getType(), Variant::kNull);
         }, ""},
        {[] { EXPECT_EQ(showColorPicker(0x336699), -1); }, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(standardErrorOf(c.call), c.expected);
    EXPECT_EQ(ThreadData::get()->dialogs, nullptr);     // every bracket closed
    EXPECT_EQ(N(getButtonCaption(kButtonNo)), "No");
    EXPECT_EQ(getButtonCaption(8).length(), 0);
}

}  // namespace
}  // namespace LxCore
