#include "objects/Connector.h"
#include "objects/Message.h"

#include <climits>
#include <cstring>
#include <vector>

#include "objects/ConfigurationXml.h"
#include "objects/PlatformServices.h"
#include "objects/Specifier.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "objects/TellwireUtils.h"
#include "objects/platform/ShellTool.h"

namespace LxObjects {

using Specifier = Tellwire::Specifier;

namespace {

const char* const kKeyTexts[TellwireConnector::kKeyCount] = {
    "/morvane/tellwire/", "/morvane/tellwire/groups/", "Group", "Specifier", "Path", "WindowClassName",
    "DisplayName", "BundleIdentifier", "TellwireVersion", "AllowMultipleInstances", "IsShellTool",
    "MessageAuthentication", "MessageDigest", "SupportsTVTK", "ExecutableBasename", "ExecutableExtensionWin",
    "OMVDictionary", "DeveloperInstallPath", "RedirectTo", "ExecutablePath",
};

bool equal(const LoString& a, const LoString& b)
{
    return a.length() == b.length() && a.compare(b.text()) == 0;
}

bool endsWith(const LoString& text, const char* tail)
{
    int n = int(std::strlen(tail));
    return text.length() >= n && std::memcmp(text.text() + text.length() - n, tail, size_t(n)) == 0;
}

// A member version ending in ".*" (and long enough to carry one).
bool isWildcard(const LoString& text)
{
    return text.length() >= 3 && endsWith(text, ".*");
}

int lastIndexOf(const LoString& text, char c)
{
    const char* p = std::strrchr(text.text(), c);
    return p ? int(p - text.text()) : -1;
}

// The file name of a path without its last extension; empty when the path
// has no folder part.
LoString fileStem(const LoString& path)
{
    int slash = lastIndexOf(path, '/');
    if (slash < 0)
        return LoString();
    LoString name(path.text() + slash + 1);
    int dot = lastIndexOf(name, '.');
    if (dot >= 0)
        name.truncate(dot);
    return name;
}

// The wrapper beside a shell tool: its extension (or nothing) becomes ".sh".
LoString wrapperPathFor(const LoString& path)
{
    LoString out(path);
    if (path.length() > 4 && path.text()[path.length() - 4] == '.')
        out.truncate(path.length() - 4);
    out += ".sh";
    return out;
}

LoString specifierPart(const LoString& text, void (Specifier::*get)(LoString&) const)
{
    Specifier parsed(text.text(), false);
    LoString out;
    (parsed.*get)(out);
    return out;
}

double number(const LoString& text)
{
    return readNumber(text);
}

}  // namespace

bool splitGroupEntry(const LoString& entry, GroupEntry& out)
{
    const char* text = entry.text();
    const char* first = std::strchr(text, '/');
    const char* last = std::strrchr(text, '/');
    if (!first || first == last)
        return false;
    out.group.assign(text, int(first - text));
    out.set.assign(first + 1, int(last - first - 1));
    out.member.assign(last + 1);
    return true;
}

// ---- records -----------------------------------------------------------------

TWConnectorAppInfo::TWConnectorAppInfo()
    : tellwireVersion(readNumber("2.0")),
      allowMultipleInstances(false),
      isShellTool(false),
      supportsTVTK(false),
      messageAuthentication(true),
      messageDigest(true),
      executableExtension("exe"),
      processId(0)
{
}

TWConnectorAppInfo::TWConnectorAppInfo(const TWConnectorAppInfo& other) = default;
TWConnectorAppInfo& TWConnectorAppInfo::operator=(const TWConnectorAppInfo& other) = default;
TWConnectorAppInfo::~TWConnectorAppInfo() = default;

bool TWConnectorAppInfo::operator==(const TWConnectorAppInfo& o) const
{
    // Two versions that are no number (text "nan") count as equal, so such a
    // record still finds itself.
    bool sameVersion = tellwireVersion == o.tellwireVersion ||
                       (tellwireVersion != tellwireVersion && o.tellwireVersion != o.tellwireVersion);
    return equal(specifier, o.specifier) && equal(path, o.path) && equal(windowClassName, o.windowClassName) &&
           equal(bundleIdentifier, o.bundleIdentifier) && equal(displayName, o.displayName) && sameVersion &&
           allowMultipleInstances == o.allowMultipleInstances && isShellTool == o.isShellTool &&
           supportsTVTK == o.supportsTVTK && messageAuthentication == o.messageAuthentication &&
           messageDigest == o.messageDigest && equal(executableBasename, o.executableBasename) &&
           equal(executableExtension, o.executableExtension) && equal(omvDictionary, o.omvDictionary) &&
           equal(developerInstallPath, o.developerInstallPath) && equal(redirectTo, o.redirectTo);
}

// ---- the record list -------------------------------------------------------------

TWConnectorAppInfoList::TWConnectorAppInfoList() = default;

TWConnectorAppInfoList::~TWConnectorAppInfoList()
{
    clear();
}

TWConnectorAppInfo* TWConnectorAppInfoList::find(const LoString& specifier, int* index)
{
    if (index)
        *index = -1;
    ObjectLock guard(*this);
    auto search = [&](const LoString& text) -> TWConnectorAppInfo* {
        for (int i = 0; i < records_.count(); ++i) {
            TWConnectorAppInfo* record = records_.get(i);
            if (equal(record->specifier, text)) {
                if (index)
                    *index = i;
                return record;
            }
        }
        return nullptr;
    };
    if (TWConnectorAppInfo* record = search(specifier))
        return record;
    Specifier plain(specifier.text(), false);
    plain.setInstance(LoString());
    if (plain.isEmpty() || equal(plain, specifier))
        return nullptr;
    return search(plain);
}

bool TWConnectorAppInfoList::findCopy(const LoString& specifier, TWConnectorAppInfo& out, int* index)
{
    ObjectLock guard(*this);
    TWConnectorAppInfo* record = find(specifier, index);
    if (record)
        out = *record;
    return record != nullptr;
}

void TWConnectorAppInfoList::copyAt(int index, TWConnectorAppInfo& out)
{
    ObjectLock guard(*this);
    if (TWConnectorAppInfo* record = records_.get(index))
        out = *record;
}

bool TWConnectorAppInfoList::addIfNew(TWConnectorAppInfo* record)
{
    if (!record)
        return false;
    ObjectLock guard(*this);
    if (containsEqual(*record)) {
        delete record;
        return false;
    }
    try {
        records_.append(record);
    } catch (...) {
        delete record;
        throw;
    }
    return true;
}

bool TWConnectorAppInfoList::containsEqual(const TWConnectorAppInfo& record)
{
    ObjectLock guard(*this);
    for (int i = 0; i < records_.count(); ++i)
        if (*records_.get(i) == record)
            return true;
    return false;
}

void TWConnectorAppInfoList::clear()
{
    ObjectLock guard(*this);
    while (records_.count() > 0)
        delete records_.removeAt(records_.count() - 1);
}

int TWConnectorAppInfoList::count()
{
    ObjectLock guard(*this);
    return records_.count();
}

bool TWConnectorAppInfoList::resolveRedirects()
{
    ObjectLock guard(*this);
    bool any = false;
    for (int i = 0; i < records_.count(); ++i) {
        TWConnectorAppInfo* start = records_.get(i);
        if (start->redirectTo.isEmpty())
            continue;
        any = true;
        // Follow the chain to its end, then hand the path back along it. A
        // chain that meets one of its own records stops there.
        std::vector<TWConnectorAppInfo*> chain;
        std::vector<TWConnectorAppInfo*> targets;
        TWConnectorAppInfo* record = start;
        for (;;) {
            bool seen = false;
            for (TWConnectorAppInfo* r : chain)
                seen = seen || r == record;
            if (seen || record->redirectTo.isEmpty())
                break;
            int at;
            TWConnectorAppInfo* target = find(record->redirectTo, &at);
            if (!target)
                break;
            chain.push_back(record);
            targets.push_back(target);
            record = target;
        }
        LoString resolved;
        for (size_t k = chain.size(); k-- > 0;) {
            chain[k]->path = resolved.isEmpty() ? targets[k]->path : resolved;
            resolved = chain[k]->path;
        }
    }
    return any;
}

// ---- the connector -----------------------------------------------------------------

TellwireConnector::TellwireConnector(const LoString& name)
    : groups_(nullptr), apps_(nullptr), tableBuilt_(false), name_(name)
{
    for (int k = 0; k < kKeyCount; ++k)
        keys_[k].assign(kKeyTexts[k]);
}

TellwireConnector::~TellwireConnector()
{
    ObjectLock guard(*this);
    deleteGroups();
    delete apps_;
    apps_ = nullptr;
}

void TellwireConnector::deleteGroups()
{
    if (!groups_)
        return;
    while (groups_->count() > 0)
        delete groups_->removeAt(groups_->count() - 1);
    delete groups_;
    groups_ = nullptr;
}

void TellwireConnector::buildTable()
{
    ObjectLock guard(*this);
    deleteGroups();
    delete apps_;
    apps_ = new TWConnectorAppInfoList;
    groups_ = new LoVector<LoString>;
    tableBuilt_ = false;
    if (!apps_ || !groups_)
        return;
    try {
        tableBuilt_ = fillTable(*apps_, *groups_);
    } catch (...) {
        tableBuilt_ = false;
    }
}

TWConnectorAppInfoList* TellwireConnector::getAppList()
{
    ObjectLock guard(*this);
    if (!apps_)
        buildTable();
    return tableBuilt_ ? apps_ : nullptr;
}

LoVector<LoString>* TellwireConnector::getGroupEntries()
{
    ObjectLock guard(*this);
    if (!groups_)
        buildTable();
    return groups_;
}

bool TellwireConnector::lookup(const LoString& specifier, TWConnectorAppInfo& out)
{
    if (specifier.isEmpty())
        return false;
    ObjectLock guard(*this);
    TWConnectorAppInfoList* list = getAppList();
    int index;
    return list && list->findCopy(specifier, out, &index);
}

bool TellwireConnector::isTableAvailable()
{
    return getAppList() != nullptr;
}

int TellwireConnector::getApplicationCount()
{
    ObjectLock guard(*this);
    TWConnectorAppInfoList* list = getAppList();
    return list ? list->count() : 0;
}

void TellwireConnector::getApplicationSpecifier(LoString& out, u32 index)
{
    out.assign("");
    if (index == 0xFFFFFFFFu) {
        out = name_;
        return;
    }
    ObjectLock guard(*this);
    TWConnectorAppInfoList* list = getAppList();
    if (!list || index > u32(INT_MAX))
        return;
    TWConnectorAppInfo record;
    list->copyAt(int(index), record);
    out = record.specifier;
}

void TellwireConnector::getDisplayName(LoString& out, const LoString& name, const LoString& version,
                                       const LoString& locale)
{
    out.assign("");
    ObjectLock guard(*this);
    LoString text(name);
    if (!version.isEmpty()) {
        text += '-';
        text += version;
    }
    if (!locale.isEmpty()) {
        text += '-';
        text += locale.lowerCased();
    }
    Specifier normal(text.text(), true);
    TWConnectorAppInfo record;
    if (!lookup(normal, record))
        return;
    out = record.displayName.isEmpty() ? fileStem(record.path) : record.displayName;
}

void TellwireConnector::getApplicationPath(LoString& out, const LoString& specifier)
{
    out.assign("");
    LoString plain(specifier);
    const char* hash = std::strchr(plain.text(), '#');
    if (hash)
        plain.truncate(int(hash - plain.text()));
    TWConnectorAppInfo record;
    if (lookup(plain, record))
        out = record.path;
}

bool TellwireConnector::supportsTVTK(const LoString& specifier)
{
    if (specifier.isEmpty())
        return false;
    Specifier normal(specifier.text(), true);
    if (!normal.isInstalled())
        return false;
    TWConnectorAppInfo record;
    return lookup(normal, record) && record.supportsTVTK;
}

bool TellwireConnector::isShellTool(const LoString& specifier)
{
    TWConnectorAppInfo record;
    return lookup(specifier, record) && record.isShellTool;
}

bool TellwireConnector::usesMessageAuthentication(const LoString& specifier)
{
    TWConnectorAppInfo record;
    return !lookup(specifier, record) || record.messageAuthentication;
}

bool TellwireConnector::usesMessageDigest(const LoString& specifier)
{
    TWConnectorAppInfo record;
    return !lookup(specifier, record) || record.messageDigest;
}

LoString TellwireConnector::recordText(const LoString& specifier, LoString TWConnectorAppInfo::*field)
{
    TWConnectorAppInfo record;
    return lookup(specifier, record) ? record.*field : LoString();
}

void TellwireConnector::getBundleIdentifier(LoString& out, const LoString& specifier)
{
    out = recordText(specifier, &TWConnectorAppInfo::bundleIdentifier);
}

void TellwireConnector::getExecutableBasename(LoString& out, const LoString& specifier)
{
    out = recordText(specifier, &TWConnectorAppInfo::executableBasename);
}

void TellwireConnector::getExecutableExtension(LoString& out, const LoString& specifier)
{
    out = recordText(specifier, &TWConnectorAppInfo::executableExtension);
}

void TellwireConnector::getOMVDictionary(LoString& out, const LoString& specifier)
{
    TWConnectorAppInfo record;
    if (!lookup(specifier, record))
        out.assign("");
    else if (record.omvDictionary.isEmpty())
        out.assign("none");
    else
        out = record.omvDictionary;
}

void TellwireConnector::getDeveloperInstallPath(LoString& out, const LoString& specifier)
{
    out = recordText(specifier, &TWConnectorAppInfo::developerInstallPath);
}

void TellwireConnector::getRedirectTo(LoString& out, const LoString& specifier)
{
    out = recordText(specifier, &TWConnectorAppInfo::redirectTo);
}

bool TellwireConnector::setProcessId(const LoString& specifier, u32 pid)
{
    ObjectLock guard(*this);
    TWConnectorAppInfoList* list = getAppList();
    if (!list)
        return false;
    // find tries the exact text first; only that counts here.
    int at;
    TWConnectorAppInfo* record = list->find(specifier, &at);
    if (!record || !equal(record->specifier, specifier))
        return false;
    record->processId = pid;
    return true;
}

u32 TellwireConnector::getProcessId(const LoString& specifier)
{
    TWConnectorAppInfo record;
    return lookup(specifier, record) ? record.processId : 0;
}

void TellwireConnector::resetTable()
{
    ObjectLock guard(*this);
    deleteGroups();
    delete apps_;
    apps_ = nullptr;
    tableBuilt_ = false;
}

bool TellwireConnector::unregisterTarget(const LoString&, const LoString&)
{
    return false;
}

bool TellwireConnector::hasAppInfo(const TWConnectorAppInfo&)
{
    return false;
}

bool TellwireConnector::registerAppInfo(const TWConnectorAppInfo& given)
{
    if (given.specifier.isEmpty() || given.path.isEmpty())
        return false;
    ObjectLock guard(*this);
    TWConnectorAppInfoList* list = getAppList();
    if (!list)
        return false;
    TWConnectorAppInfo present;
    int index;
    if (list->findCopy(given.specifier, present, &index)) {
        if (equal(present.path, given.path))
            return false;
        if (!unregisterTarget(given.specifier, given.displayName))
            return false;
    }
    TWConnectorAppInfo record(given);
    if (record.isShellTool) {
        LoString wrapper = wrapperPathFor(record.path);
        if (Platform::writeShellWrapper(wrapper.text(), record.path.text()))
            record.path = wrapper;
    }
    if (record.displayName.isEmpty())
        record.displayName = fileStem(record.path);
    if (!storeAppInfo(record))
        return false;
    // The table may have been rebuilt meanwhile; ask for it again.
    list = getAppList();
    if (list && !list->addIfNew(new TWConnectorAppInfo(record)))
        resetTable();
    return true;
}

// ---- launching ---------------------------------------------------------------

namespace {

// A developer build announces itself by a link DeveloperApp.lnk beside the
// installed program; when its target exists, that is started instead. A web
// address has no folder to look in.
LoString developerPath(const LoString& path)
{
    int slash = lastIndexOf(path, '/');
    if (slash < 0 || std::strncmp(path.text(), "https://", 8) == 0)
        return path;
    LoString shortcut(path.text(), slash + 1);
    shortcut += "DeveloperApp.lnk";
    if (!fileExists(shortcut))
        return path;
    LoString target = resolveShortcut(shortcut);
    return fileExists(target) ? target : path;
}

}  // namespace

bool TellwireConnector::launchApplication(const LoString& specifier, const LoString& arguments, bool show)
{
    // A debug target carries its engine part ("app-1.0#tvtk"); the
    // application's record is kept under the specifier without it.
    LoString plain(specifier);
    if (const char* hash = std::strchr(plain.text(), '#'))
        plain.truncate(int(hash - plain.text()));
    TWConnectorAppInfo record;
    {
        ObjectLock guard(*this);
        TWConnectorAppInfoList* list = getAppList();
        int index;
        if (!list || (!list->findCopy(specifier, record, &index) && !list->findCopy(plain, record, &index)))
            return false;
    }
    if (record.path.isEmpty())
        return false;
    // No lock is held while the process starts. The connector's name is the
    // specifier of the endpoint that set the facility up: the sender.
    u32 pid = 0;
    bool started = launchProcess(name_, developerPath(record.path), arguments.isEmpty() ? nullptr : &arguments,
                                 !show, &pid);
    recordLaunch(specifier, record, pid);
    return started;
}

// A failed start records 0 as well. The table is fetched again: it may have
// been rebuilt while the process started.
void TellwireConnector::recordLaunch(const LoString& specifier, const TWConnectorAppInfo& found, u32 pid)
{
    Specifier parsed(specifier.text(), false);
    LoString instance;
    parsed.getInstance(instance);
    ObjectLock guard(*this);
    if (setProcessId(specifier, pid) || instance.isEmpty())
        return;
    TWConnectorAppInfoList* list = getAppList();
    TWConnectorAppInfo* record = new TWConnectorAppInfo(found);
    if (!list || !record) {
        delete record;
        return;
    }
    record->specifier = parsed;
    record->processId = pid;
    list->addIfNew(record);
}

void TellwireConnector::bringToFront(const char* specifier)
{
    ObjectLock guard(*this);
    if (!getAppList())
        return;
    Specifier normal(specifier, true);
    TWConnectorAppInfo record;
    if (lookup(normal, record))
        bringWindowToFront(record.windowClassName);
}

void TellwireConnector::writeConfigurationXml(LoString& out, const LoString& what)
{
    out.assign("");
    if (what.isEmpty())
        return;
    ObjectLock guard(*this);
    if (what.compare("groups") == 0) {
        if (LoVector<LoString>* groups = getGroupEntries())
            out = configurationXmlForGroups(*this, *groups);
        return;
    }
    TWConnectorAppInfo record;
    if (lookup(what, record))
        out = configurationXmlForRecord(*this, record);
}

// ---- diagnostics and maintenance ------------------------------------------------

namespace {

// Applications of earlier generations that may run without being installed.
// Their names are this system's own.
const char* const kLegacyTargets[] = {
    "vandrel-1.0",         "vandrel-1.5",          "vandrel-2.0-en_us",    "quillon-1.0",
    "quillon-2.0",         "quillon-3.0-en_us",    "marrowpage-1.0",       "marrowpage-2.0",
    "marrowpage-3.0-en_us", "sendalink-1.0",       "sendalink-2.0-en_us",  "orrinscan-1.0",
    "orrinscan-1.1",       "orrinscan-2.0-en_us",  "pellamdraw-1.0",       "pellamdraw-2.0",
    "pellamdraw-3.0-en_us", "tessacast-1.0",       "tessacast-2.0-en_us",  "kelvardesk-1.0",
    "kelvardesk-2.0",      "kelvardesk-3.0-en_us",
};


LoString joined(const LoString& a, const char* b)
{
    LoString out(a);
    out += b;
    return out;
}

LoString onOff(bool on)
{
    return LoString(on ? "ON" : "OFF");
}

LoString decimal(u32 n)
{
    LoString out;
    out += n;
    return out;
}

// The lines of a target's own report appended below prefix; with
// skipOwnLines the lines that repeat what the item shows already are left
// out (the target's own node, its name, path and status).
void appendReport(LoString& out, const LoString& report, const LoString& prefix, const LoString& spec,
                  bool skipOwnLines)
{
    LoString own("/");
    own += spec;
    const char* p = report.text();
    LoString path, label, value;
    int flag = 0;
    while (int n = TellwireUtils::parseDiagnosticsLine(p, path, label, value, flag)) {
        p += n;
        bool skip = equal(path, own);
        if (skipOwnLines)
            skip = skip || label.compare("Name") == 0 || label.compare("Path") == 0 ||
                   label.compare("Status") == 0;
        if (!skip)
            appendDiagnosticsLine(out, joined(prefix, path.text()), flag ? "1" : "0", label, value);
    }
}

// What a running target reports of its context and pump thread.
void targetReports(LoString& out, const LoString& spec, const LoString& prefix)
{
    TellwireContext* context = getCurrentContext();
    LoString own;
    if (context)
        context->getContextSpecifier(own);
    LoString contextReport, threadReport;
    if (context && equal(own, spec)) {
        LoString root("/");
        root += spec;
        context->writeContextDiagnostics(contextReport, root.text());
        if (TellwireThread* thread = context->getPumpThread())
            thread->writeThreadDiagnostics(threadReport, root.text());
    } else {
        LoString topic("context");
        queryTarget(contextReport, spec.text(), "INFO", 10, &topic);
        topic.assign("thread");
        queryTarget(threadReport, spec.text(), "INFO", 10, &topic);
    }
    appendReport(out, contextReport, prefix, spec, true);
    appendReport(out, threadReport, prefix, spec, false);
}

}  // namespace

void TellwireConnector::writeDiagnostics(LoString& out, const LoString& path)
{
    LoString p = joined(path, "/targets");
    // The records are copied out under the lock; the targets are asked
    // after it is released, since answering may need this connector (and
    // this process's pump thread, which may be the one asking).
    std::vector<TWConnectorAppInfo> records;
    std::vector<LoString> groups;
    LoString kind;
    {
        ObjectLock guard(*this);
        getKind(kind);
        if (TWConnectorAppInfoList* list = getAppList()) {
            for (int i = 0; i < list->count(); ++i) {
                records.emplace_back();
                list->copyAt(i, records.back());
            }
        }
        if (LoVector<LoString>* entries = getGroupEntries())
            for (int i = 0; i < entries->count(); ++i)
                groups.push_back(*entries->get(i));
    }

    appendDiagnosticsLine(out, p, "1", LoString("Targets"), decimal(u32(records.size())));
    appendDiagnosticsLine(out, joined(p, "/connector"), "0", LoString("Connector"), kind);
    LoString installed = joined(p, "/installed"), running = joined(p, "/running");
    appendDiagnosticsLine(out, installed, "1", LoString("Installed"), LoString("0"));
    appendDiagnosticsLine(out, running, "1", LoString("Running"), LoString("0"));

    u32 installedCount = 0, runningCount = 0;
    for (const TWConnectorAppInfo& record : records) {
        const LoString& s = record.specifier;
        Specifier spec(s.text(), false);
        LoString status;
        bool isRunning = isTargetRunning(spec);
        if (isRunning && !queryOwnEntry(status, s, LoString("STATUS")))
            queryTarget(status, s.text(), "STATUS", 2, nullptr);
        LoString n = isRunning ? running : installed;
        n += '/';
        n += s;
        ++(isRunning ? runningCount : installedCount);

        appendDiagnosticsLine(out, n, "1", s, status);
        LoString group;
        getGroupOf(group, s, nullptr);
        if (!group.isEmpty())
            appendDiagnosticsLine(out, joined(n, "/group"), "0", LoString("Group"), group);
        LoString text;
        getApplicationPath(text, s);
        appendDiagnosticsLine(out, joined(n, "/path"), "0", LoString("Path"), text);
        LoString name, version, locale;
        spec.getName(name);
        spec.getVersion(version);
        spec.getLocale(locale);
        getDisplayName(text, name, version, locale);
        if (!text.isEmpty())
            appendDiagnosticsLine(out, joined(n, "/displayname"), "0", LoString("Display Name"), text);
        appendDiagnosticsLine(out, joined(n, "/authentication"), "0", LoString("MsgAuthentication"),
                        onOff(usesMessageAuthentication(s)));
        appendDiagnosticsLine(out, joined(n, "/digest"), "0", LoString("MsgDigest"), onOff(usesMessageDigest(s)));
        appendDiagnosticsLine(out, joined(n, "/tvtk"), "0", LoString("TVTK"), onOff(supportsTVTK(s)));
        getBundleIdentifier(text, s);
        if (!text.isEmpty())
            appendDiagnosticsLine(out, joined(n, "/bundleid"), "0", LoString("BundleID"), text);
        if (!status.isEmpty()) {
            appendDiagnosticsLine(out, joined(n, "/status"), "0", LoString("Status"), status);
            targetReports(out, s, running);
        } else {
            appendDiagnosticsLine(out, joined(n, "/status"), "0", LoString("Status"), LoString("(not running)"));
        }
        getExecutableBasename(text, s);
        if (!text.isEmpty()) {
            LoString extension;
            getExecutableExtension(extension, s);
            text += '.';
            text += extension;
            appendDiagnosticsLine(out, joined(n, "/exename"), "0", LoString("ExeName"), text);
        }
    }
    appendDiagnosticsLine(out, installed, "1", LoString("Installed"), decimal(installedCount));
    appendDiagnosticsLine(out, running, "1", LoString("Running"), decimal(runningCount));

    LoString g = joined(p, "/groups");
    if (groups.empty()) {
        appendDiagnosticsLine(out, g, "0", LoString("Groups"), LoString("(no groups defined)"));
        return;
    }
    appendDiagnosticsLine(out, g, "1", LoString("Groups"), decimal(u32(groups.size())));
    LoString previous;
    for (const LoString& entry : groups) {
        int last = lastIndexOf(entry, '/');
        if (last < 0)
            continue;
        LoString c;
        for (const char* part = entry.text(); part < entry.text() + last; ++part)
            if (*part != '/')
                c += *part;
        LoString s(entry.text() + last + 1);
        LoString node(g);
        node += '/';
        node += c;
        if (!equal(node, previous)) {
            // The set's first member follows the empty value in a field of
            // its own.
            out += node;
            out += ";1;";
            out += c;
            out += ";;";
            out += s;
            out += ";\n";
        }
        previous = node;
        LoString leaf(node);
        leaf += '/';
        leaf += s;
        appendDiagnosticsLine(out, leaf, "0", s, LoString());
    }
}

bool TellwireConnector::mergeFrom(TellwireConnector& other)
{
    ObjectLock guard(*this);
    if (!getAppList())
        return false;
    LoString mine, theirs;
    getKind(mine);
    other.getKind(theirs);
    if (equal(mine, theirs))
        return false;
    ObjectLock otherGuard(other);
    bool ok = true;
    if (TWConnectorAppInfoList* list = other.getAppList()) {
        for (int i = 0; i < list->count(); ++i) {
            TWConnectorAppInfo record;
            list->copyAt(i, record);
            if (!hasAppInfo(record) && !registerAppInfo(record))
                ok = false;
        }
    }
    if (LoVector<LoString>* entries = other.getGroupEntries()) {
        for (int i = 0; i < entries->count(); ++i) {
            GroupEntry entry;
            if (!splitGroupEntry(*entries->get(i), entry)) {
                ok = false;
                continue;
            }
            if (!addGroupEntry(entry.member, entry.group, entry.set.isEmpty() ? nullptr : &entry.set))
                ok = false;
        }
    }
    return ok;
}

bool TellwireConnector::unregisterAll()
{
    ObjectLock guard(*this);
    TWConnectorAppInfoList* list = getAppList();
    if (!list)
        return false;
    // Copied first: unregistering may change the table under way.
    std::vector<TWConnectorAppInfo> records(size_t(list->count()));
    for (size_t i = 0; i < records.size(); ++i)
        list->copyAt(int(i), records[i]);
    std::vector<LoString> entries;
    if (LoVector<LoString>* groups = getGroupEntries())
        for (int i = 0; i < groups->count(); ++i)
            entries.push_back(*groups->get(i));
    bool ok = true;
    for (size_t i = records.size(); i-- > 0;)
        ok = unregisterTarget(records[i].specifier, records[i].displayName) && ok;
    for (const LoString& text : entries) {
        GroupEntry entry;
        if (!splitGroupEntry(text, entry)) {
            ok = false;
            continue;
        }
        ok = removeGroupEntry(entry.member, entry.group, entry.set.isEmpty() ? nullptr : &entry.set) && ok;
    }
    resetTable();
    return ok;
}

bool TellwireConnector::refresh(bool checkLegacy)
{
    ObjectLock guard(*this);
    unregisterAll();
    resetTable();
    if (!getAppList())
        return false;
    return checkLegacy ? registerRunningLegacyTargets() : isTableAvailable();
}

namespace {

bool sameKeys(const TellwireConnector& a, const TellwireConnector& b)
{
    if (!equal(a.getName(), b.getName()))
        return false;
    for (int k = 0; k < TellwireConnector::kKeyCount; ++k) {
        auto key = TellwireConnector::Key(k);
        if (key != TellwireConnector::kExecutablePath && !equal(a.key(key), b.key(key)))
            return false;
    }
    return true;
}

bool holdsEntry(LoVector<LoString>& entries, const LoString& entry)
{
    for (int i = 0; i < entries.count(); ++i)
        if (equal(*entries.get(i), entry))
            return true;
    return false;
}

// Every record of from is in to, by specifier, and equal.
bool recordsFound(TWConnectorAppInfoList& from, TWConnectorAppInfoList& to)
{
    for (int i = 0; i < from.count(); ++i) {
        TWConnectorAppInfo record, found;
        from.copyAt(i, record);
        int at;
        if (!to.findCopy(record.specifier, found, &at) || found != record)
            return false;
    }
    return true;
}

bool entriesFound(LoVector<LoString>& from, LoVector<LoString>& to)
{
    for (int i = 0; i < from.count(); ++i)
        if (!holdsEntry(to, *from.get(i)))
            return false;
    return true;
}

}  // namespace

bool TellwireConnector::equals(TellwireConnector& other)
{
    if (!other.tableBuilt_ || !sameKeys(*this, other))
        return false;
    bool mineThere = apps_ && groups_;
    bool theirsThere = other.apps_ && other.groups_;
    if (mineThere != theirsThere)
        return false;
    if (!mineThere)
        return true;
    return groups_->count() == other.groups_->count() && apps_->count() == other.apps_->count() &&
           entriesFound(*groups_, *other.groups_) && recordsFound(*apps_, *other.apps_);
}

bool TellwireConnector::validateConnector(TellwireConnector& other)
{
    if (!other.tableBuilt_ || !sameKeys(*this, other))
        return false;
    bool mineThere = apps_ && groups_;
    bool theirsThere = other.apps_ && other.groups_;
    if (mineThere != theirsThere)
        return false;
    if (!mineThere)
        return true;
    bool mineLarger = groups_->count() >= other.groups_->count();
    bool groupsMatch = mineLarger ? entriesFound(*groups_, *other.groups_) : entriesFound(*other.groups_, *groups_);
    mineLarger = apps_->count() >= other.apps_->count();
    bool recordsMatch = mineLarger ? recordsFound(*apps_, *other.apps_) : recordsFound(*other.apps_, *apps_);
    return groupsMatch && recordsMatch;
}

bool TellwireConnector::registerRunningLegacyTargets()
{
    ObjectLock guard(*this);
    LoString userLocale = getUserLocale();
    bool found = false;
    for (const char* text : kLegacyTargets) {
        Specifier spec(text, false);
        LoString locale;
        spec.getLocale(locale);
        if (!locale.isEmpty() && !equal(locale, userLocale))
            spec.setLocale(userLocale);
        if (spec.isInstalled() || !isTargetRunning(spec))
            continue;
        registerRunningTarget(spec, LoString("(running)"), 0, false, true);
        found = true;
    }
    return found;
}

bool TellwireConnector::registerRunningTarget(const LoString&, const LoString&, u32, bool, bool)
{
    return false;
}

// ---- resolution within suites ----------------------------------------------------

LoString versionMajor(const LoString& version)
{
    const char* dot = std::strchr(version.text(), '.');
    if (!dot || dot == version.text())
        return LoString();
    return LoString(version.text(), int(dot - version.text()));
}

namespace {

// The version text up to its first '.' (all of it without one).
LoString majorPart(const LoString& version)
{
    const char* dot = std::strchr(version.text(), '.');
    return dot ? LoString(version.text(), int(dot - version.text())) : version;
}

}  // namespace

LoString resolveWithHint(const LoString& target, const LoString& hint)
{
    const LoString& text = hint.isEmpty() ? target : hint;
    Specifier wanted(text.text(), false);
    LoString version;
    wanted.getVersion(version);
    // A wildcard names a major version: it must not be read as the one
    // release whose number it happens to equal (10.* is not just 10.0).
    if (!isWildcard(version)) {
        normalizeSpecifier(&wanted, false);
        return wanted.isInstalled() ? LoString(wanted) : LoString();
    }
    LoString upper("-");
    upper.append(version.text(), version.length() - 2);
    upper += ".99";
    if (!wanted.setVersion(upper))
        return LoString();

    LoString name, completedVersion;
    wanted.getName(name);
    wanted.getVersion(completedVersion);
    LoString major = versionMajor(completedVersion);
    TellwireConnector* connector = getGlobalConnector();
    if (major.isEmpty() || !connector)
        return wanted;
    int count = connector->getApplicationCount();
    for (int i = 0; i < count; ++i) {
        LoString text;
        connector->getApplicationSpecifier(text, u32(i));
        Specifier other(text.text(), false);
        if (other.isEmpty() || equal(other, wanted))
            continue;
        LoString otherName, otherVersion;
        other.getName(otherName);
        other.getVersion(otherVersion);
        if (equal(otherName, name) && equal(majorPart(otherVersion), major) && isTargetRunning(other))
            return other;
    }
    return wanted;
}

void TellwireConnector::getGroupOf(LoString& out, const LoString& specifier, LoString* set)
{
    out.assign("");
    if (set)
        set->assign("");
    ObjectLock guard(*this);
    LoVector<LoString>* groups = getGroupEntries();
    if (!groups || groups->count() == 0)
        return;
    Specifier normal(specifier.text(), true);
    if (normal.isEmpty())
        return;
    LoString keyVersion;
    normal.getVersion(keyVersion);
    if (keyVersion.isEmpty())
        keyVersion.assign("1.0");
    LoString key;
    normal.getName(key);
    key += '-';
    key += keyVersion;
    int keyDot = lastIndexOf(keyVersion, '.');

    double best = 0.0;
    for (int i = groups->count() - 1; i >= 0; --i) {
        GroupEntry entry;
        if (!splitGroupEntry(*groups->get(i), entry))
            continue;
        if (isWildcard(entry.member) && keyDot >= 0) {
            entry.member.truncate(entry.member.length() - 2);
            entry.member += keyVersion.text() + keyDot;
        }
        if (!equal(entry.member, key))
            continue;
        double v = number(entry.set);
        if (v > best) {
            best = v;
            out = entry.group;
            if (set)
                *set = entry.set;
        }
    }
}

void TellwireConnector::resolveForSender(LoString& out, const LoString& sender, const LoString& target,
                                         const LoString& group)
{
    ObjectLock guard(*this);
    LoVector<LoString>* groups = getGroupEntries();
    Specifier senderSpec(sender.text(), false);
    Specifier targetSpec(target.text(), false);
    if (!groups || groups->count() == 0 || senderSpec.isEmpty() || targetSpec.isEmpty()) {
        out = resolveWithHint(target, LoString());
        return;
    }
    LoString senderName, senderVersionText, targetName;
    senderSpec.getName(senderName);
    senderSpec.getVersion(senderVersionText);
    targetSpec.getName(targetName);
    double senderVersion = senderVersionText.isEmpty() ? 0.0 : number(senderVersionText);

    LoString firstTarget, setTarget, currentSet, senderSeen;
    for (int i = groups->count() - 1; i >= 0; --i) {
        GroupEntry entry;
        if (!splitGroupEntry(*groups->get(i), entry) || !equal(entry.group, group))
            continue;
        if (!equal(entry.set, currentSet)) {
            currentSet = entry.set;
            setTarget.assign("");
            senderSeen.assign("");
        }
        Specifier member(entry.member.text(), false);
        LoString memberName;
        member.getName(memberName);
        if (equal(memberName, senderName)) {
            double memberVersion = 0.0;
            if (senderVersion != 0.0) {
                memberVersion = number(specifierPart(member, &Specifier::getVersion));
                if (memberVersion < 0)
                    memberVersion = senderVersion + 1.0;
            }
            if (memberVersion <= senderVersion) {
                if (!setTarget.isEmpty()) {
                    out = resolveWithHint(target, setTarget);
                    return;
                }
                senderSeen = member;
            }
        }
        if (equal(memberName, targetName)) {
            if (!senderSeen.isEmpty()) {
                out = resolveWithHint(target, member);
                return;
            }
            if (setTarget.isEmpty())
                setTarget = member;
            if (firstTarget.isEmpty())
                firstTarget = member;
        }
    }
    out = resolveWithHint(target, firstTarget.isEmpty() ? LoString(targetSpec) : firstTarget);
}

void TellwireConnector::resolveInGroupSet(LoString& out, const LoString& target, const LoString& group,
                                          const LoString& set)
{
    ObjectLock guard(*this);
    LoVector<LoString>* groups = getGroupEntries();
    int count = groups ? groups->count() : 0;
    for (int i = count - 1; i >= 0; --i) {
        GroupEntry entry;
        if (!splitGroupEntry(*groups->get(i), entry) || !equal(entry.group, group) || !equal(entry.set, set))
            continue;
        Specifier member(entry.member.text(), false);
        if (!equal(specifierPart(member, &Specifier::getName), target))
            continue;
        LoString hint;
        if (isWildcard(entry.member) || Specifier(entry.member.text(), true).isInstalled())
            hint = member;
        out = resolveWithHint(target, hint);
        return;
    }
    out = resolveWithHint(target, LoString());
}

// ---- the process-wide connector -----------------------------------------------

namespace {

TellwireConnector* globalConnector = nullptr;
ConnectorFactory connectorFactory = nullptr;

}  // namespace

void setConnectorFactory(ConnectorFactory factory)
{
    connectorFactory = factory;
}

bool createGlobalConnector(const LoString& name)
{
    if (globalConnector)
        return true;
    globalConnector = connectorFactory ? connectorFactory(name, LoString("default")) : nullptr;
    return true;
}

TellwireConnector* getGlobalConnector()
{
    return globalConnector;
}

bool destroyGlobalConnector()
{
    delete globalConnector;
    globalConnector = nullptr;
    return true;
}

}  // namespace LxObjects
