// The help-text reader and the plain type description it fills.
#include "core/TypeInfo.h"

#include <cstring>
#include <limits>
#include <memory>

#include "core/CharClass.h"
#include "core/NumberText.h"

namespace LxCore {

namespace {

constexpr f64 kInfinity = std::numeric_limits<f64>::infinity();

const char* const kTypeNames[] = {"undefined", "null",   "boolean", "number",   "string",
                                  "Object",    "Object", "point",   "rect",     "array",
                                  "filespec",  "regexp", "unitvalue"};

struct TypeWord {
    const char* word;
    u32 type;
};

constexpr TypeWord kTypeWords[] = {
    {"undefined", Variant::kUndefined}, {"boolean", Variant::kBoolean},
    {"bool", Variant::kBoolean},        {"number", Variant::kNumber},
    {"int", Variant::kNumber},          {"uint", Variant::kNumber},
    {"string", Variant::kString},       {"object", Variant::kScriptObject},
    {"Object", Variant::kScriptObject}, {"any", kTypeAny},
};

// The text before the first separator, trimmed, cut off `rest` with the
// separator; all of it when there is none.
String cut(String& rest, unit separator) { return rest.nextToken(separator); }

}  // namespace

void appendString(StringList& list, const String& text) {
    std::unique_ptr<String> copy(new String(text));
    list.add(copy.get());
    copy.release();
}

void freeStrings(StringList& list) {
    for (i32 i = 0; i < list.getCount(); i++)
        delete list.get(i);
    list.setCount(0);
}

const char* getTypeName(u32 type) {
    if (type < sizeof kTypeNames / sizeof kTypeNames[0])
        return kTypeNames[type];
    return type == kTypeAny ? "any" : "unknown";
}

void TypeInfo::getTypeName(String& out) const {
    u32 type = getType();
    if (type == Variant::kScriptObject || type == Variant::kLiveObject) {
        getClassName(out);
        if (out.isEmpty())
            out = "Object";
        return;
    }
    out = LxCore::getTypeName(type);
}

// ---------------------------------------------------------------------------
// SimpleTypeInfo

SimpleTypeInfo::SimpleTypeInfo() : minimum(-kInfinity), maximum(kInfinity) {}

bool SimpleTypeInfo::getRange(f64* min, f64* max) const {
    if (min)
        *min = minimum;
    if (max)
        *max = maximum;
    return hasRange;
}

bool SimpleTypeInfo::getDefault(Variant& out) const {
    out = defaultValue;
    return hasDefault;
}

// item = spec [TAB short [TAB description]], spec = [name ":"] type-spec.
void SimpleTypeInfo::readItem(String item, String* name, String* shortDesc, String* desc) {
    item.trim();
    if (item.isEmpty())
        return;
    String spec = cut(item, u'\t');
    shortDescription = cut(item, u'\t');
    item.trim();
    description = item;
    if (spec.find(u':') >= 0) {
        String given = cut(spec, u':');
        if (name && !given.isEmpty())
            *name = given;
    }
    readTypeSpec(spec);
    if (shortDesc)
        *shortDesc = shortDescription;
    if (desc)
        *desc = description;
}

// type-spec = type [";" min [";" max [";" default [";" array-mark]]]].
void SimpleTypeInfo::readTypeSpec(String spec) {
    spec.trim();
    String word = cut(spec, u';');
    String min = cut(spec, u';');
    String max = cut(spec, u';');
    String given = cut(spec, u';');
    spec.trim();

    const TypeWord* known = nullptr;
    for (const TypeWord& w : kTypeWords)
        if (word.compare(w.word) == 0)
            known = &w;
    if (known) {
        type = known->type;
    } else if (!word.isEmpty() && isUpperCaseChar(word[0])) {
        type = Variant::kScriptObject;      // a class name
        className = word;
    } else {
        type = kTypeAny;
    }
    // An empty bound is a missing one, not the number 0.
    if (!min.isEmpty())
        minimum = parseNumber(min, kParseWholeText);
    if (!max.isEmpty())
        maximum = parseNumber(max, kParseWholeText);
    hasRange = !min.isEmpty() || !max.isEmpty();

    if (!given.isEmpty()) {
        hasDefault = true;
        if (given.compare("undefined") == 0)
            defaultValue.clear();
        else if (given.compare("null") == 0)
            defaultValue.setNull();
        else if (given.compare("false") == 0 || given.compare("true") == 0)
            defaultValue.setBool(given[0] == 't');
        else if (given[0] < 128 && std::strchr("-+0123456789", char(given[0])))
            defaultValue.setNumber(parseNumber(given, kParseWholeText));
        else
            defaultValue.setString(given);
    }
    array = !spec.isEmpty();
}

// ---------------------------------------------------------------------------
// Reading help texts

bool helpStartsWithParameter(const String& help) {
    i32 comma = help.find(u',');
    String first = comma < 0 ? help : help.substr(0, comma);
    first.trim();
    i32 colon = first.find(u':', 1);
    i32 tab = first.find(u'\t');
    return colon > 0 && (tab < 0 || colon < tab);
}

u32 countHelpParameters(const String& help) {
    String text = help;
    text.trim();
    if (text.isEmpty())
        return 0;
    u32 items = 1;
    for (i32 i = 0; i < text.length(); i++)
        items += text[i] == u',';
    return helpStartsWithParameter(text) ? items : items - 1;
}

SimpleTypeInfo* parseTypeInfo(const String& help, i32 index, String* name, String* shortDesc,
                              String* description, TypeInfo** altType) {
    if (altType)
        *altType = nullptr;
    if (shortDesc)
        shortDesc->clear();
    if (description)
        description->clear();
    String rest = help;
    String item;
    if (helpStartsWithParameter(help))
        item = "any";               // no result item: every item is a parameter
    else
        item = cut(rest, u',');

    std::unique_ptr<SimpleTypeInfo> info(new SimpleTypeInfo);
    if (index < 0) {
        if (name)
            name->clear();
        String alternative = item;
        String main = cut(alternative, u'/');
        info->readItem(main, name, shortDesc, description);
        if (altType && !alternative.isEmpty()) {
            std::unique_ptr<SimpleTypeInfo> other(new SimpleTypeInfo);
            other->readItem(alternative, nullptr, nullptr, nullptr);
            *altType = other.release();
        }
        return info.release();
    }
    if (name)
        name->sprintf("arg%d", index + 1);
    for (i32 i = 0; i <= index; i++) {
        if (rest.isEmpty())
            return info.release();  // past the last item: nothing known
        item = cut(rest, u',');
    }
    info->readItem(item, name, shortDesc, description);
    return info.release();
}

}  // namespace LxCore
