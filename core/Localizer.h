// Localisable texts. A ZString is "$$$/" + a key path + "=" + the default
// text; localizers translate ZStrings and may supply the locale, case
// mapping, ordering and error messages. Every service asks the current
// localizer first, then the registered ones from the last registered to the
// first, and falls back to a built-in rule when none handles the request.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

class Array;

class Localizer : public Root {
public:
    // What compare answers when it does not handle the request.
    static constexpr i32 kNotHandled = 0x7FFFFFFF;

    Localizer() = default;
    Localizer(const Localizer&) = delete;
    Localizer& operator=(const Localizer&) = delete;
    // A localizer that goes away stops being current and is unregistered,
    // so no list keeps a pointer to it.
    virtual ~Localizer();

    // The hooks; each answers whether it handled the request,
    // and this base handles none.
    virtual bool translate(String& text, const String& locale, const String& zstringInfo);
    virtual bool getLocale(String& out);
    virtual bool localizeText(String& text);               // a text that is no ZString
    virtual bool changeCase(String& text, bool toLower);
    virtual i32 compare(const String& a, const String& b);  // kNotHandled: not handled
    virtual bool localizeError(i32 error, String& message);

    // The calling thread's localizer, else the default one; the default
    // while the library starts and while it is not started. Never null.
    static Localizer* getCurrent();
    // Null means the default. Ignored while the library is not started.
    static void setCurrent(Localizer* localizer);
    // Appends to the registered list, which does not own its entries. The
    // list lives from the localizers' start to their end: the last exit
    // empties it, so after a new init a localizer must be registered again.
    // Delete a registered localizer before that last exit (it lives on the
    // core heap); InitTerm::atExit is a good place. Null, and any call while
    // the library is not started, are ignored.
    static void registerLocalizer(Localizer* localizer);

    // Translates a ZString, then decodes its escapes; any other text only
    // has its escapes decoded.
    static void resolveZString(String& text);
    // A ZString resolved, or another text offered to localizeText, then its
    // "%1".."%n" replaced by the texts of the arguments (null: none).
    static String localize(const String& text, const Array* args);
    // Resolves and localises an error message; true when a localizer
    // handled it.
    static bool localizeErrorText(i32 error, String& message);
    // Language in lower case, "_", region in upper case ("en_US").
    static String getCurrentLocale();
    static String toLocaleCase(const String& text, bool toLower);
    static i32 localeCompare(const String& a, const String& b);
};

// Module start/end: the default localizer becomes the starting thread's
// current one and the String and Error localisation seams are filled; the
// end empties the registered list, forgets the cached locale and clears the
// seams.
void initLocalizers(bool start);

}  // namespace LxCore
