// The localizer services: one asking order for every hook, the escape table
// of finished texts, "%n" placeholders and the normalised locale name.
#include "core/Localizer.h"

#include "core/Array.h"
#include "core/Callbacks.h"
#include "core/CharClass.h"
#include "core/Error.h"
#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/ThreadData.h"
#include "core/Variant.h"
#include "core/platform/Environment.h"

namespace LxCore {

namespace {

// Declines everything. It is no heap object, so that getCurrent has an
// answer before the library starts and after it ends.
Localizer defaultLocalizer;

// Made by the localizers' start, deleted by their end: nothing registered
// on one run of the library survives into the next.
TSimpleArray<Localizer>* registered = nullptr;

// Empty until computed; computed names are never empty.
String cachedLocale;

bool isZString(const String& text) {
    return text.length() >= 3 && text[0] == '$' && text[1] == '$' && text[2] == '$';
}

// Asks the current localizer, then the registered ones from the last to the
// first, until one handles the request. A hook may register or unregister
// others while it runs: the walk re-reads the list at every step.
template <class Ask>
bool askInOrder(Ask ask) {
    if (ask(*Localizer::getCurrent()))
        return true;
    for (i32 i = registered ? registered->getCount() - 1 : -1; i >= 0; i--) {
        if (!registered)
            break;
        if (Localizer* localizer = registered->get(i))
            if (ask(*localizer))
                return true;
    }
    return false;
}

// The two-character escapes of finished texts.
struct Escape {
    char lead;
    char second;
    unit value;
};

constexpr Escape kEscapes[] = {
    {'\\', 'n', 0x000A}, {'\\', 'r', 0x000D}, {'\\', 't', 0x0009}, {'\\', 'b', 0x0008},
    {'^', '!', 0x00AC},  {'^', '#', 0x2318},  {'^', 'A', 0x0027},  {'^', 'B', 0x2022},
    {'^', 'C', 0x00A9},  {'^', 'D', 0x00B0},  {'^', 'E', 0x00EA},  {'^', 'F', 0x002F},
    {'^', 'I', 0x2206},  {'^', 'Q', 0x0022},  {'^', 'R', 0x00AE},  {'^', 'S', 0x2211},
    {'^', 'T', 0x2122},  {'^', 'V', 0x005C},  {'^', 'b', 0x007C},  {'^', 'e', 0x00E9},
    {'^', 'l', 0x005C},  {'^', 'n', 0x000A},  {'^', 'r', 0x000D},  {'^', 't', 0x0009},
    {'^', '^', 0x005E},  {'^', '[', 0x201C},  {'^', ']', 0x201D},  {'^', '{', 0x2018},
    {'^', '}', 0x2019},
};
static_assert(sizeof(kEscapes) / sizeof(kEscapes[0]) == 29);

// The unit a pair stands for, or 0 when the table has no row for it.
unit findEscape(unit lead, unit second) {
    for (const Escape& e : kEscapes)
        if (lead == unit(e.lead) && second == unit(u8(e.second)))
            return e.value;
    return 0;
}

// A pair without a row: after '\' the character stands alone, a '^' stays
// in front of it. A '\' or '^' at the very end stays as it is.
void decodeEscapes(String& text) {
    if (text.findFirstOf("\\^") < 0)
        return;
    i32 n = text.length();
    String out;
    const unit* s = text.chars();
    for (i32 i = 0; i < n; i++) {
        unit c = s[i];
        if ((c != '\\' && c != '^') || i + 1 >= n) {
            out += c;
            continue;
        }
        unit next = s[++i];
        if (unit value = findEscape(c, next)) {
            out += value;
            continue;
        }
        if (c == '^')
            out += c;
        out += next;
    }
    text = out;
}

// Replaces "%n" by the text of argument n (1-based; nothing when there is
// no such argument) and "%%" by '%'; any other '%' stays.
String insertArguments(const String& text, const Array* args) {
    i32 n = text.length();
    if (text.find(unit('%')) < 0)
        return text;
    u32 count = args ? args->length() : 0;
    const unit* s = text.chars();
    String out;
    for (i32 i = 0; i < n; i++) {
        unit c = s[i];
        if (c != '%' || i + 1 >= n) {
            out += c;
            continue;
        }
        unit next = s[i + 1];
        if (next == '%') {
            out += c;
            i++;
            continue;
        }
        if (next < '0' || next > '9') {
            out += c;
            continue;
        }
        // Saturated: a number too long to be an index selects nothing.
        u64 number = 0;
        for (i++; i < n && s[i] >= '0' && s[i] <= '9'; i++)
            if (number <= u64(0xFFFFFFFF))
                number = number * 10 + u64(s[i] - '0');
        i--;
        if (number >= 1 && number <= count) {
            const Variant* value = args->get(u32(number - 1));
            out += value ? value->toString() : Variant().toString();
        }
    }
    return out;
}

// Language and region as the system gives them, brought into the form the
// localisation files are named after.
struct Completion {
    const char* from;
    const char* to;
};
constexpr Completion kLanguageOnly[] = {
    {"da", "da_DK"}, {"en", "en_US"}, {"ja", "ja_JP"}, {"ko", "ko_KR"},
    {"fa", "ar_AR"}, {"zh", "zh_CN"},
};
constexpr Completion kLanguageDefaults[] = {
    {"ar_", "ar_AE"}, {"fr_", "fr_FR"}, {"de_", "de_DE"}, {"es_", "es_ES"},
};

String normaliseLocale(String name) {
    i32 n = name.length();
    for (i32 i = 0; i < n && i < 2; i++)
        name.setAt(i, toLowerChar(name[i]));
    if (n >= 5) {
        name.setAt(3, toUpperChar(name[3]));
        name.setAt(4, toUpperChar(name[4]));
    }
    if (n == 2) {
        for (const Completion& c : kLanguageOnly)
            if (name.compare(c.from) == 0)
                return String(c.to);
        String upper = name;
        upper.toUpper();
        name += '_';
        name += upper;
    } else if (n == 5) {
        if (name.compare("zh_", 3) == 0 && name.compare("zh_CN") != 0)
            return String("zh_TW");
        for (const Completion& c : kLanguageDefaults)
            if (name.compare(c.from, 3) == 0)
                return String(c.to);
    }
    return name;
}

void localizeForString(String& text, const Array* args) { text = Localizer::localize(text, args); }

}  // namespace

Localizer::~Localizer() {
    if (ThreadData* record = ThreadData::find())
        if (record->localizer == this)
            record->localizer = nullptr;
    if (registered)
        for (i32 i = registered->find(this); i >= 0; i = registered->find(this))
            registered->removeAt(i);
}

bool Localizer::translate(String&, const String&, const String&) { return false; }
bool Localizer::getLocale(String&) { return false; }
bool Localizer::localizeText(String&) { return false; }
bool Localizer::changeCase(String&, bool) { return false; }
i32 Localizer::compare(const String&, const String&) { return kNotHandled; }
bool Localizer::localizeError(i32, String&) { return false; }

Localizer* Localizer::getCurrent() {
    if (InitTerm::isStartingUp())
        return &defaultLocalizer;
    ThreadData* record = ThreadData::find();
    return record && record->localizer ? record->localizer : &defaultLocalizer;
}

void Localizer::setCurrent(Localizer* localizer) {
    if (!InitTerm::isInitialized())
        return;
    ThreadData::get()->localizer = localizer ? localizer : &defaultLocalizer;
}

void Localizer::registerLocalizer(Localizer* localizer) {
    if (localizer && registered)
        registered->add(localizer);
}

void Localizer::resolveZString(String& text) {
    if (isZString(text)) {
        // Keys hold line breaks as "\n"; decoding turns them back.
        text.replaceAll("\n", "\\n");
        String locale;
        String info;
        if (Callbacks* callbacks = Callbacks::getCurrent())
            callbacks->getLocaleInfo(locale, info);
        if (locale.isEmpty())
            locale = getCurrentLocale();
        bool handled = askInOrder([&](Localizer& l) {
            String candidate = text;
            if (!l.translate(candidate, locale, info))
                return false;
            text = candidate;
            return true;
        });
        if (!handled) {
            i32 equals = text.find(unit('='));
            if (equals >= 0)
                text.erase(0, equals + 1);
        }
    }
    decodeEscapes(text);
}

String Localizer::localize(const String& text, const Array* args) {
    String result = text;
    if (isZString(result)) {
        resolveZString(result);
    } else {
        askInOrder([&](Localizer& l) {
            String candidate = text;
            if (!l.localizeText(candidate))
                return false;
            result = candidate;
            return true;
        });
    }
    return insertArguments(result, args);
}

bool Localizer::localizeErrorText(i32 error, String& message) {
    if (isZString(message))
        resolveZString(message);
    bool handled = askInOrder([&](Localizer& l) {
        String candidate = message;
        if (!l.localizeError(error, candidate))
            return false;
        message = candidate;
        return true;
    });
    if (isZString(message))
        resolveZString(message);
    return handled;
}

String Localizer::getCurrentLocale() {
    String locale;
    if (askInOrder([&](Localizer& l) { return l.getLocale(locale); }))
        return locale;
    GlobalLockGuard guard(kLocalizerLock);
    if (cachedLocale.isEmpty())
        cachedLocale = normaliseLocale(localeName());
    return cachedLocale;
}

String Localizer::toLocaleCase(const String& text, bool toLower) {
    String result = text;
    bool handled = askInOrder([&](Localizer& l) {
        String candidate = text;
        if (!l.changeCase(candidate, toLower))
            return false;
        result = candidate;
        return true;
    });
    if (!handled) {
        if (toLower)
            result.toLower();
        else
            result.toUpper();
    }
    return result;
}

i32 Localizer::localeCompare(const String& a, const String& b) {
    i32 order = kNotHandled;
    if (askInOrder([&](Localizer& l) { return (order = l.compare(a, b)) != kNotHandled; }))
        return order;
    return a.compare(b);
}

void initLocalizers(bool start) {
    if (start) {
        ThreadData* record = ThreadData::get();
        registered = new TSimpleArray<Localizer>;
        record->localizer = &defaultLocalizer;
        String::setLocalizationHooks(Localizer::resolveZString, localizeForString);
        Error::setLocalizationHook(Localizer::localizeErrorText);
        return;
    }
    String::setLocalizationHooks(nullptr, nullptr);
    Error::setLocalizationHook(nullptr);
    if (ThreadData* record = ThreadData::find())
        record->localizer = nullptr;
    delete registered;
    registered = nullptr;
    cachedLocale.clear();
}

}  // namespace LxCore
