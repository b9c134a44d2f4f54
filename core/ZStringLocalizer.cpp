// Localisation files: one table of translations, loaded for one locale,
// info text and script file at a time and reloaded when any of them changes.
#include "core/ZStringLocalizer.h"

#include <cstring>
#include <memory>

#include "core/Callbacks.h"
#include "core/File.h"
#include "core/FileSpec.h"
#include "core/platform/FileSystem.h"
#include "core/platform/Folders.h"

namespace LxObjects {

using LxCore::Callbacks;
using LxCore::File;
using LxCore::FileSpec;
using LxCore::i32;
using LxCore::String;
using LxCore::u32;
using LxCore::unit;

namespace {

constexpr const char* kDefaultTemplate = "{FILEPATH}/{FILENAME}/{FILENAME}_{LOCALE}.dat";

// What URI forms of paths keep unescaped beside letters and digits.
constexpr const char* kUriKeep = "-_.!~*'();/?:@&=+$,#";

struct Placeholder {
    const char* name;
    const String* value;
};

bool startsWith(const unit* s, i32 available, const char* name) {
    i32 n = i32(std::strlen(name));
    if (n > available)
        return false;
    for (i32 i = 0; i < n; i++)
        if (s[i] != unit(name[i]))
            return false;
    return true;
}

// Every placeholder of the table replaced in one pass: a value is never
// searched for placeholders itself, so a script named "{LOCALE}.tvs" keeps
// its name. Placeholders not in the table stay.
template <size_t N>
String fill(const String& text, const Placeholder (&table)[N]) {
    const unit* s = text.chars();
    i32 n = text.length();
    String out;
    for (i32 i = 0; i < n;) {
        const Placeholder* found = nullptr;
        if (s[i] == '{')
            for (const Placeholder& p : table)
                if (startsWith(s + i, n - i, p.name)) {
                    found = &p;
                    break;
                }
        if (found) {
            out += *found->value;
            i += i32(std::strlen(found->name));
        } else {
            out += s[i++];
        }
    }
    return out;
}

bool isZString(const String& text) {
    return text.length() >= 3 && text[0] == '$' && text[1] == '$' && text[2] == '$';
}

String specialFolder(i32 kind) {
    FileSpec folder;
    String uri;
    if (FileSpec::getSpecialFolder(kind, folder) == 0)
        folder.toURI(uri, true);
    return uri;
}

// Reads a text file line by line with the core's File, so that its
// byte-order mark or the default encoding decides the decoding.
template <class Line>
void readLines(const FileSpec& spec, Line line) {
    File file(spec);
    if (file.open("r") != 0)
        return;
    String text;
    while (file.readln(text) == 0)
        line(text);
    file.close();
}

}  // namespace

ZStringLocalizer::ZStringLocalizer(const String& templateText) : usesScriptFile(false) {
    const String userData = specialFolder(LxCore::kFolderUserData);
    const String allData = specialFolder(LxCore::kFolderAllUsersData);
    const String startup = specialFolder(LxCore::kFolderHost);
    const String package = specialFolder(LxCore::kFolderPackage);
    const String commonFiles = specialFolder(LxCore::kFolderCommonFiles);
    const Placeholder folders[] = {
        {"{USERDATA}", &userData}, {"{ALLDATA}", &allData},         {"{STARTUP}", &startup},
        {"{PACKAGE}", &package},   {"{COMMONFILES}", &commonFiles},
    };
    fileTemplate = fill(templateText.isEmpty() ? String(kDefaultTemplate) : templateText, folders);
    usesScriptFile = fileTemplate.find("{FILEPATH}") >= 0 || fileTemplate.find("{FILENAME}") >= 0;
}

ZStringLocalizer::~ZStringLocalizer() { emptyTable(); }

void ZStringLocalizer::getCurrentFile(String& out) {
    out.clear();
    if (Callbacks* callbacks = Callbacks::getCurrent())
        callbacks->getCurrentScriptFile(out);
}

// Remembers the running script and answers whether it changed. The host
// reports a native path, so it is taken as it stands.
bool ZStringLocalizer::noteScriptFile() {
    String current;
    getCurrentFile(current);
    if (current.isEmpty())
        return false;
    FileSpec spec(current, true);
    String native;
    spec.getNativePath(native);
    bool changed = !(native == scriptFile);
    scriptFile = native;

    String name;
    spec.getName(name);
    i32 dot = name.find(unit('.'), -1, true);
    if (dot > 0)
        name.erase(dot);
    // The template is a URI: a name holding "%" must not be read as escapes.
    name.encodeURI(kUriKeep);
    fileName = name;

    i32 slash = native.find(unit('/'), -1, true);
    FileSpec folder(slash > 0 ? native.substr(0, slash) : String("/"), true);
    folder.toURI(filePath, false);
    return changed;
}

void ZStringLocalizer::emptyTable() {
    strings.forEach(
        [](LxCore::THashTable<String>::Entry*, String** value, void*) {
            delete *value;
            *value = nullptr;
            return false;
        },
        nullptr);
    strings.clear();
}

// Lines of two characters or fewer say nothing; quotes around a whole line
// go; the key is cut at the first "=" and the rest, as it stands, is the
// translation. A line without "=" is a key with an empty translation.
void ZStringLocalizer::addLine(String line) {
    line.trim();
    i32 n = line.length();
    if (n <= 2)
        return;
    if (line[0] == '"' && line[n - 1] == '"') {
        line.erase(n - 1);
        line.erase(0, 1);
    }
    String key = line.nextToken('=');
    std::unique_ptr<String> translation(new String(line));
    if (auto* entry = strings.findEntry(key)) {
        delete entry->value;
        entry->value = translation.release();
        return;
    }
    strings.put(key, translation.get());
    translation.release();
}

void ZStringLocalizer::load(const String& path) {
    FileSpec spec(path, false);
    u32 bits = u32(spec.getAttributes());
    if (bits == 0 || (bits & LxCore::kAttrFolder)) {
        // Not loaded, so that the next call looks for the file again.
        loadedLocale.clear();
        return;
    }
    readLines(spec, [this](const String& line) { addLine(line); });
}

bool ZStringLocalizer::translate(String& text, const String& locale, const String& info) {
    if (!isZString(text))
        return true;
    String rest = text;
    String key = rest.nextToken('=');

    bool changed = usesScriptFile && noteScriptFile();
    // No script has run yet: there is no file to name.
    if (usesScriptFile && scriptFile.isEmpty())
        return false;

    if (loadedLocale.isEmpty() || !(locale == loadedLocale) || !(info == loadedInfo) || changed) {
        emptyTable();
        loadedLocale = locale;
        loadedInfo = info;
        const String language = locale.substr(0, 2);
        const String region = locale.substr(3);
        const Placeholder perLoad[] = {
            {"{FILEPATH}", &filePath}, {"{FILENAME}", &fileName}, {"{LANGUAGE}", &language},
            {"{REGION}", &region},     {"{LOCALE}", &locale},     {"{ZSTRINGINFO}", &info},
        };
        load(fill(fileTemplate, perLoad));
    }

    String* translation = strings.get(key);
    if (!translation)
        return false;
    text = *translation;
    return true;
}

}  // namespace LxObjects
