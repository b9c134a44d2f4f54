// The core's modal dialogs for scripts: alert, confirm, prompt and a colour
// chooser. Titles and texts are localised (a "$$$/..." text is resolved) and
// take this platform's line breaks before they are shown.
//
// On this platform no dialog waits for anyone (see core/platform/Dialogs.cpp):
// an alert is written to standard error as "title: text" and a line feed,
// a question answers its default button, a prompt answers null and the
// colour chooser answers -1.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxScript {
class Engine;
}  // namespace LxScript

namespace LxCore {

class Variant;

// One open dialog, stacked in the thread record, innermost first.
struct ModalRecord : public Root {
    void* hook = nullptr;                   // the window hook while installed
    void* focusWindow = nullptr;            // the window that had the focus
    LxScript::Engine* engine = nullptr;     // current on the thread when it opened
    ModalRecord* previous = nullptr;
};

// Bracket every dialog: the record is pushed on the thread's stack and
// popped (and freed) again.
void beginModalDialog(ModalRecord*& record);
void endModalDialog(ModalRecord* record);

// Message box styles and the buttons by control id.
enum MessageStyle : u32 {
    kMessageOK = 0,
    kMessageYesNo = 4,
    kMessageIconError = 0x10,
    kMessageIconQuestion = 0x20,
    kMessageIconInformation = 0x40,
    kMessageDefaultButton2 = 0x100,
};

enum DialogButton : i32 {
    kButtonOK = 1,
    kButtonCancel = 2,
    kButtonAbort = 3,
    kButtonRetry = 4,
    kButtonIgnore = 5,
    kButtonYes = 6,
    kButtonNo = 7,
};

// The localised caption of a button ("$$$/CT/Tavrel/UI/OK=OK" and so on);
// empty for an id outside 1..7.
String getButtonCaption(i32 id);

// The pressed button's id.
i32 showMessageBox(const String& title, const String& text, u32 style);
// An empty title is the localised "Script Alert" ("Script Error" with the
// error icon).
void showAlert(const String& title, const String& text, bool error);
void showAlert(const String& title, const String& text);
void showAlert(const String& text);
// Yes/No; true for Yes. An empty title is the localised "Script Alert".
bool showConfirm(const String& title, const String& text, bool yesIsDefault);
bool showConfirm(const String& text, bool yesIsDefault);
// The edited text as a String on OK; null on Cancel. An empty title is the
// localised "Script Prompt".
void showPrompt(const String& title, const String& text, const String& defaultValue, Variant& result);
// 0xRRGGBB, or -1 when cancelled; a negative colour starts from none.
i32 showColorPicker(i32 color);

}  // namespace LxCore
