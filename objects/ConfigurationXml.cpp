#include "objects/ConfigurationXml.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "objects/Specifier.h"

namespace LxObjects {

namespace {

using Key = TellwireConnector::Key;

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n";
const char kFooter[] = "\t</Other>\n</Configuration>\n";

// Takes the place of an empty group list: one suite of this system's own.
const char* const kDefaultGroups[] = {
    "morvanestudio/1/vandrel-1.0",       "morvanestudio/1/morvanepaint-1.0",  "morvanestudio/1/morvanewrite-1.0",
    "morvanestudio/1/morvanelayout-1.0", "morvanestudio/1/morvanesketch-1.0", "morvanestudio/1/morvanemotion-1.0",
    "morvanestudio/1/morvanesound-1.0",  "morvanestudio/1/morvanebridge-1.0", "morvanestudio/1/morvaneprint-1.0",
    "morvanestudio/1/morvanefonts-1.0",  "morvanestudio/1/tavrelstudio-1.0",
};

// TinyXML's white space.
bool isBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void appendCharacterReference(LoString& out, unsigned char c)
{
    char text[8];
    int n = std::snprintf(text, sizeof text, "&#%u;", unsigned(c));
    out.append(text, n);
}

// TinyXML drops leading and trailing white space of a text and folds runs
// of it into one blank; written as references it stays. A text of white
// space alone would be dropped whole, so it goes into a CDATA section,
// which keeps every byte but a CR.
void appendEscaped(LoString& out, const LoString& value)
{
    const char* v = value.text();
    int n = value.length();
    bool blank = n > 0 && std::strchr(v, '\r') == nullptr;
    for (int i = 0; i < n && blank; ++i)
        blank = isBlank(v[i]);
    if (blank) {
        out += "<![CDATA[";
        out.append(v, n);
        out += "]]>";
        return;
    }
    for (int i = 0; i < n; ++i) {
        char c = v[i];
        switch (c) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '"': out += "&quot;"; continue;
        default: break;
        }
        bool lone = c == ' ' && i > 0 && i + 1 < n && !isBlank(v[i - 1]) && !isBlank(v[i + 1]);
        if ((isBlank(c) && !lone) || static_cast<unsigned char>(c) < 0x20)
            appendCharacterReference(out, static_cast<unsigned char>(c));
        else
            out += c;
    }
}

void appendValueLine(LoString& out, const char* key, const LoString& value)
{
    out += "\t\t<Data key=\"";
    out += key;
    out += "\">";
    appendEscaped(out, value);
    out += "</Data>\n";
}

void appendValueLine(LoString& out, const LoString& key, const LoString& value)
{
    appendValueLine(out, key.text(), value);
}

// The shortest text that reads back as the same number ("1", "1.5").
LoString versionText(double version)
{
    char text[64];
    std::to_chars_result r = std::to_chars(text, text + sizeof text, version);
    return LoString(text, r.ec == std::errc() ? int(r.ptr - text) : 0);
}

// The member of an entry (after its last '/') lower-cased, given the locale
// of an installed application that fits, and without an instance. The
// group and set are kept as they are: an '_' in them is no instance.
LoString groupValue(const LoString& entry)
{
    const char* slash = std::strrchr(entry.text(), '/');
    int start = slash ? int(slash - entry.text()) + 1 : 0;
    LoString value = LoString(entry.text(), start).lowerCased();
    Tellwire::Specifier member(entry.text() + start, false);
    if (member.isEmpty()) {
        value += LoString(entry.text() + start).lowerCased();
        return value;
    }
    LoString locale;
    member.getLocale(locale);
    if (locale.isEmpty())
        member.setLocale(LoString());
    member.setInstance(LoString());
    value += member;
    return value;
}

}  // namespace

LoString configurationXmlForRecord(const TellwireConnector& keys, const TWConnectorAppInfo& r)
{
    LoString code(keys.key(TellwireConnector::kConfigurationRoot));
    code += r.specifier;

    LoString out(kHeader);
    out += "\t<Payload>\n";
    appendValueLine(out, "TellwireCode", code);
    out += "\t</Payload>\n\n";
    out += "\t<Other morvaneCode=\"";
    appendEscaped(out, code);
    out += "\">\n";

    auto text = [&](Key key, const LoString& value, bool when) {
        if (when)
            appendValueLine(out, keys.key(key), value);
    };
    auto flag = [&](Key key, bool value, bool written) {
        if (value == written)
            appendValueLine(out, keys.key(key), LoString(value ? "true" : "false"));
    };
    text(TellwireConnector::kSpecifier, r.specifier, true);
    text(TellwireConnector::kWindowClassName, r.windowClassName, !r.windowClassName.isEmpty());
    text(TellwireConnector::kBundleIdentifier, r.bundleIdentifier, !r.bundleIdentifier.isEmpty());
    text(TellwireConnector::kDisplayName, r.displayName, !r.displayName.isEmpty());
    // A reader takes a missing version for 2.0; every other one is written.
    text(TellwireConnector::kTellwireVersion, versionText(r.tellwireVersion), r.tellwireVersion != 2.0);
    flag(TellwireConnector::kAllowMultipleInstances, r.allowMultipleInstances, true);
    flag(TellwireConnector::kIsShellTool, r.isShellTool, true);
    flag(TellwireConnector::kMessageAuthentication, r.messageAuthentication, false);
    flag(TellwireConnector::kMessageDigest, r.messageDigest, false);
    flag(TellwireConnector::kSupportsTVTK, r.supportsTVTK, true);
    bool basename = !r.executableBasename.isEmpty();
    text(TellwireConnector::kExecutableBasename, r.executableBasename, basename);
    text(TellwireConnector::kExecutableExtensionWin, r.executableExtension,
         basename && !r.executableExtension.isEmpty());
    text(TellwireConnector::kOMVDictionary, r.omvDictionary,
         !r.omvDictionary.isEmpty() && r.omvDictionary.compare("none") != 0);
    text(TellwireConnector::kDeveloperInstallPath, r.developerInstallPath, !r.developerInstallPath.isEmpty());
    text(TellwireConnector::kRedirectTo, r.redirectTo, !r.redirectTo.isEmpty());
    out += kFooter;
    return out;
}

LoString configurationXmlForGroups(const TellwireConnector& keys, const LoVector<LoString>& entries)
{
    LoString out(kHeader);
    out += "\t<Other morvaneCode=\"";
    out += keys.key(TellwireConnector::kConfigurationRoot);
    out += "groups\">\n";
    int count = entries.count();
    int defaults = int(sizeof kDefaultGroups / sizeof kDefaultGroups[0]);
    for (int i = 0; i < (count > 0 ? count : defaults); ++i) {
        LoString entry = count > 0 ? *entries.get(i) : LoString(kDefaultGroups[i]);
        char key[32];
        int n = std::snprintf(key, sizeof key, "%s%03d", keys.key(TellwireConnector::kGroup).text(), i);
        LoString value(keys.key(TellwireConnector::kGroupsRoot));
        value += groupValue(entry);
        appendValueLine(out, LoString(key, n), value);
    }
    out += kFooter;
    return out;
}

}  // namespace LxObjects
