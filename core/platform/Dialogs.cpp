// The dialogs on this platform: a debugger core has no window to show them
// in, so none of them waits. An alert goes to standard error in one write,
// a question answers its default button, a prompt null, the colour chooser -1.
#include "core/Dialogs.h"

#include <string_view>
#include <unistd.h>

#include "base/platform/InterruptedCalls.h"
#include "core/Encoder.h"
#include "core/Localizer.h"
#include "core/ThreadData.h"
#include "core/Variant.h"

namespace LxCore {

namespace {

const char* const kButtonNames[] = {"OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};

// Line breaks as a terminal here wants them (the files' style is CR LF).
constexpr i32 kTerminalLineFeeds = 3;

// A text as it would be shown: resolved when localisable, with the
// terminal's line breaks.
String shown(const String& text) {
    String out = text;
    Localizer::resolveZString(out);
    out.convertLineFeeds(kTerminalLineFeeds);
    return out;
}

String titleOr(const String& title, const char* fallback) { return title.isEmpty() ? String(fallback) : title; }

// Every byte, in one write unless the system takes less.
void writeToStandardError(const String& text) {
    const char* bytes = nullptr;
    u32 length = 0;
    text.encode(bytes, length, utf8Encoder());
    if (bytes)
        LxBase::writeAll(STDERR_FILENO, std::string_view(bytes, length));
}

// A dialog's bracket for its whole call.
class ModalScope {
public:
    ModalScope() { beginModalDialog(record); }
    ~ModalScope() { endModalDialog(record); }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    ModalRecord* record = nullptr;
};

}  // namespace

void beginModalDialog(ModalRecord*& record) {
    ThreadData* thread = ThreadData::get();
    record = new ModalRecord;
    record->engine = thread->engine;
    record->previous = thread->dialogs;
    thread->dialogs = record;
}

void endModalDialog(ModalRecord* record) {
    if (!record)
        return;
    if (ThreadData* thread = ThreadData::find()) {
        for (ModalRecord** at = &thread->dialogs; *at; at = &(*at)->previous) {
            if (*at == record) {
                *at = record->previous;
                break;
            }
        }
    }
    delete record;
}

String getButtonCaption(i32 id) {
    if (id < kButtonOK || id > kButtonNo)
        return String();
    String key("$$$/CT/Tavrel/UI/");
    key += kButtonNames[id - 1];
    key += "=";
    key += kButtonNames[id - 1];
    Localizer::resolveZString(key);
    return key;
}

i32 showMessageBox(const String& title, const String& text, u32 style) {
    ModalScope modal;
    if (style & kMessageYesNo)
        return (style & kMessageDefaultButton2) ? kButtonNo : kButtonYes;
    String line = shown(title);
    line += ": ";
    line += shown(text);
    line += "\n";
    writeToStandardError(line);
    return kButtonOK;
}

void showAlert(const String& title, const String& text, bool error) {
    const char* fallback = error ? "$$$/CT/Tavrel/UI/Error=Script Error" : "$$$/CT/Tavrel/UI/Alert=Script Alert";
    showMessageBox(titleOr(title, fallback), text,
                   kMessageOK | (error ? kMessageIconError : kMessageIconInformation));
}

void showAlert(const String& title, const String& text) { showAlert(title, text, false); }

void showAlert(const String& text) { showAlert(String(), text, false); }

bool showConfirm(const String& title, const String& text, bool yesIsDefault) {
    const u32 style = kMessageYesNo | kMessageIconQuestion | (yesIsDefault ? 0u : u32(kMessageDefaultButton2));
    return showMessageBox(titleOr(title, "$$$/CT/Tavrel/UI/Alert=Script Alert"), text, style) == kButtonYes;
}

bool showConfirm(const String& text, bool yesIsDefault) { return showConfirm(String(), text, yesIsDefault); }

void showPrompt(const String& title, const String& text, const String& defaultValue, Variant& result) {
    ModalScope modal;
    result.setNull();
}

i32 showColorPicker(i32 color) {
    ModalScope modal;
    return -1;
}

}  // namespace LxCore
