// Error lists: reference-counted, copy-on-write lists of error records,
// newest first, and the built-in table of error numbers shared by the core,
// the engine and everything built on them.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

class Cloneable;
class Variant;

// One error: its number, message and where in the script it lies.
struct ErrorRecord : public Root {
    ErrorRecord* next = nullptr;        // the next older record
    String message;
    String fileName;
    String source;                      // the script text in which the fault lies
    Variant* data = nullptr;            // made on first use
    Cloneable* payload = nullptr;       // owned
    i32 line = -1;                      // 0-based; -1 when not set
    i32 start = -1;                     // offset of the offending token
    i32 further = -1;                   // a further position
    u16 length = 0;                     // length of the offending token
    i32 code = 0;

    ErrorRecord() = default;
    explicit ErrorRecord(i32 errorCode) : code(errorCode) {}
    ErrorRecord(const ErrorRecord&) = delete;
    ErrorRecord& operator=(const ErrorRecord&) = delete;
    ~ErrorRecord();

    // The record's value (a thrown script value between throw and catch),
    // made undefined on first use; throws std::bad_alloc.
    Variant* getData();
};

struct ErrorData : public Root {
    ErrorRecord* first;                 // the newest record
    u32 refCount;
};

class Error {
public:
    Error();                                          // empty
    Error(const Error& other);                        // shares the other's records
    Error(i32 code, const String& text, bool useDefaultText);
    ~Error();
    Error& operator=(const Error& other);

    // Forgets every record; the last owner frees them.
    void clear();
    // Adds a record in front and takes over the payload. With useDefaultText
    // the message is the number's default text, localised, with "%1"
    // replaced by text; else text itself. Never throws: lack of memory turns
    // the list into the shared "Out of memory" list, any other failure into
    // the shared "Uncaught Exception" list, and both refuse further records.
    void push(i32 code, const String& text, Cloneable* payload, bool useDefaultText);
    void push(i32 code, Cloneable* payload = nullptr);
    // Sets these fields of the newest record, never in another copy's records;
    // nothing on an empty list or a shared fatal one.
    void setSource(const String& source, i32 line, i32 start, i32 further, u16 length);
    void setFileName(const String& fileName);
    // Every message, newest first, joined by "\n- ".
    void getMessage(String& out) const;
    // The newest record's number; 0 for an empty list.
    i32 getCode() const;
    bool isEmpty() const;
    // The newest record, for reading; null for an empty list.
    const ErrorRecord* getRecord() const;
    // The newest record of this list alone, for changing; null for an empty
    // list or a shared fatal one.
    ErrorRecord* editRecord();
    // Gives this handle records of its own when others share them.
    void detach();

    // The default text and class name of a number, looked up by its magnitude;
    // numbers beyond the table give "Error #%1", "Error" and false.
    static bool getInfo(i32 code, String& message, String& className);
    // Whether name is one of the built-in error class names.
    static bool isErrorClass(const String& name);

    // The localisation seam: asked with the error's magnitude and a text that
    // begins with its key ("$$$/CT/Tavrel/Errors/Err5=Unterminated comment")
    // or with a caller's own text; it leaves the text to show and answers
    // whether a localizer handled it. While none is set a key is cut off and
    // its default text after the first "=" remains.
    using TextLocalizer = bool (*)(i32 error, String& text);
    static void setLocalizationHook(TextLocalizer localizer);

private:
    ErrorData* d;

    bool isFatal() const;
    void privatize();
    void share(ErrorData* head);
    void becomeFatal(ErrorData* head) noexcept;
};

// The default text of a number wrapped in its localisation key, localised.
// Beyond the table a non-empty text is kept (and only localised); an empty
// one becomes "Error #%1".
void errorTextForCode(i32 code, String& text);

// Module start/end: the texts of the shared fatal records.
void initError(bool start);

}  // namespace LxCore
