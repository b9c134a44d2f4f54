// Source text of values and the default string conversion of objects.
#include "script/library/SourceText.h"

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/Localizer.h"
#include "script/engine/Object.h"
#include "script/engine/RealEngine.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::String;
using LxCore::unit;
namespace Err = LxCore::Err;

namespace {

constexpr u32 kLocalizeFlag = 0x200;

DataPool& pool() { return DataPool::get(); }

bool errorPending(Engine& engine) { return engine.getError().getCode() != 0; }

bool isIdentifierText(const String& name) {
    const i32 n = name.length();
    if (n == 0 || !LxCore::isIdentifierStart(name[0]))
        return false;
    for (i32 i = 1; i < n; i++)
        if (!LxCore::isIdentifierPart(name[i]))
            return false;
    return true;
}

// Calls the object's method of that name without arguments. False when the
// property holds no function: nothing ran.
bool callMethod(Object& object, DataPoolId name, Variant& result) {
    Variant method;
    object.get(name, method, kFindCallable);
    Object* callee = objectOf(method);
    if (!callee || !callee->asFunction())
        return false;
    ObjectRef held(callee);
    LxCore::Array none;
    callee->call(&object, none, result);
    return true;
}

}  // namespace

SourceNesting::SourceNesting(Engine& engine) : context(&TVContext::get()) {
    entered = context->sourceDepth < kMaxSourceDepth && context->checkStack();
    if (entered)
        context->sourceDepth++;
    else
        engine.setError(Err::kStackOverrun);
}

SourceNesting::~SourceNesting() {
    if (entered)
        context->sourceDepth--;
}

void appendQuoted(String& out, const String& text, bool escapeNonAscii) {
    String quoted = text.toSource(escapeNonAscii);
    // Line separators end a string literal; the core escapes them only
    // with the rest of non-ASCII.
    if (!escapeNonAscii && (quoted.find(unit(0x2028)) >= 0 || quoted.find(unit(0x2029)) >= 0)) {
        const unit lineSeparator[] = {0x2028, 0};
        const unit paragraphSeparator[] = {0x2029, 0};
        quoted.replaceAll(String(lineSeparator), String("\\u2028"));
        quoted.replaceAll(String(paragraphSeparator), String("\\u2029"));
    }
    out += quoted;
}

bool isPlainName(const String& text) {
    if (!isIdentifierText(text))
        return false;
    const DataPoolId id = pool().add(text.chars());
    return id < kFirstReservedWord || id > kLastReservedWord;
}

void appendPropertyKey(String& out, DataPoolId name) {
    u32 index;
    const String text = pool().getSymbol(name);
    // "-0" names index 0 but is no key a literal can spell bare.
    if ((name != Sym::kMinusZero && isIndexId(name, index)) || isPlainName(text))
        out += text;
    else
        appendQuoted(out, text, true);
}

bool appendValueSource(RealEngine& engine, const Variant& value, String& out, bool escapeNonAscii) {
    if (Object* o = objectOf(value)) {
        ObjectRef held(o);
        Variant result;
        if (!callMethod(*o, pool().add("toSource"), result)) {
            String text = value.toString();
            if (errorPending(engine))
                return false;
            appendQuoted(out, text, escapeNonAscii);
            return true;
        }
        if (errorPending(engine))
            return false;
        String text = result.toString();
        if (errorPending(engine))
            return false;
        out += text;
        return true;
    }
    String text = value.toString();
    if (value.getType() == Variant::kString)
        appendQuoted(out, text, escapeNonAscii);
    else
        out += text;
    return true;
}

bool appendObjectSource(RealEngine& engine, Object& object, String& out) {
    if (object.getLiveObject()) {
        out += "{}";
        return true;
    }
    SourceNesting level(engine);
    if (!level.ok())
        return false;
    ObjectRef self(&object);
    LxCore::SimpleArray ids;
    object.getPropertyIDs(ids, kListForIn);
    out += unit('{');
    for (i32 i = 0; i < ids.getCount(); i++) {
        if (!engine.pollWork())
            return false;
        const DataPoolId name = DataPoolId(ids.get(i));
        Variant value;
        object.get(name, value, 0);
        if (errorPending(engine))
            return false;
        if (i > 0)
            out += ", ";
        appendPropertyKey(out, name);
        out += unit(':');
        Object* nested = objectOf(value);
        if (nested == &object) {
            out += "this";
        } else if (nested && nested->getClassID() == Sym::kObject) {
            if (!appendObjectSource(engine, *nested, out))
                return false;
        } else if (!appendValueSource(engine, value, out, false)) {
            return false;
        }
    }
    out += unit('}');
    return true;
}

bool defaultObjectText(RealEngine& engine, Object& object, String& out) {
    const u32 flags = engine.getDebugFlags() | engine.getEffectiveDebugFlags();
    TVContext* context = TVContext::find();
    if ((flags & kLocalizeFlag) || (context && context->localizeNesting > 0)) {
        // A table may name itself, or another table that names it.
        SourceNesting level(engine);
        if (!level.ok())
            return false;
        ObjectRef self(&object);
        String locale = engine.getLocaleText();
        if (locale.isEmpty())
            locale = LxCore::Localizer::getCurrentLocale();
        auto withWin = [](String text) { return text += "_Win"; };
        String candidates[5];
        i32 count = 0;
        candidates[count++] = withWin(locale);
        candidates[count++] = locale;
        const i32 underscore = locale.find(unit('_'));
        if (underscore >= 0) {
            const String language = locale.substr(0, underscore);
            candidates[count++] = withWin(language);
            candidates[count++] = language;
        }
        candidates[count++] = String("en");
        for (i32 i = 0; i < count; i++) {
            if (candidates[i].isEmpty())
                continue;
            Variant value;
            if (!object.get(pool().add(candidates[i].chars()), value, 0))
                continue;
            if (errorPending(engine))
                return false;
            out = value.toString();
            return !errorPending(engine);
        }
    }
    String name;
    object.getClassName(name);
    out.sprintf("[object %ls]", name.chars());
    return true;
}

}  // namespace LxScript
