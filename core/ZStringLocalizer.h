// A localizer that translates ZStrings from localisation files: plain text
// files of "$$$/key=translation" lines, found through a path template with
// placeholders for the running script, the locale and special folders.
// It uses the core alone, so it lives with the core; the host registers it.
#pragma once
#include "core/HashTable.h"
#include "core/Localizer.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxObjects {

class ZStringLocalizer : public LxCore::Localizer {
public:
    using String = LxCore::String;

    // An empty template means "{FILEPATH}/{FILENAME}/{FILENAME}_{LOCALE}.dat".
    // The template is a path in URI form ("~" for the home folder, percent
    // escapes decoded); the special-folder placeholders {USERDATA},
    // {ALLDATA}, {STARTUP}, {PACKAGE} and {COMMONFILES} are filled in here,
    // {FILEPATH}, {FILENAME}, {LANGUAGE}, {REGION}, {LOCALE} and
    // {ZSTRINGINFO} at each load. Nothing is read yet.
    explicit ZStringLocalizer(const String& fileTemplate);
    ~ZStringLocalizer() override;

    // A ZString whose key the file for this locale, info and script file
    // defines becomes its translation (true). A text that is no ZString is
    // left alone (true). Otherwise the text stays and the answer is false.
    bool translate(String& text, const String& locale, const String& info) override;
    // The script file the host reports running; empty without host hooks.
    virtual void getCurrentFile(String& out);

private:
    String fileTemplate;        // special folders filled in
    String loadedLocale;        // empty: nothing loaded
    String loadedInfo;
    String scriptFile;          // native path of the script the table is for
    LxCore::THashTable<String> strings;   // key -> owned translation
    bool usesScriptFile;
    String fileName;            // {FILENAME} of the remembered script, URI-encoded
    String filePath;            // {FILEPATH} of the remembered script

    bool noteScriptFile();
    void emptyTable();
    void load(const String& path);
    void addLine(String line);
};

}  // namespace LxObjects
