#include "objects/PCDConnector.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "objects/Specifier.h"

namespace LxObjects {

namespace {

// The maker's web addresses end in this; there is no real domain behind it.
const char kMakerDomainSuffix[] = ".morvane.example";

const char kConfigPathKey[] = "KPVConfigPath";
const char kTellwireCodeKey[] = "TellwireCode";

bool startsWith(const LoString& text, const LoString& prefix)
{
    return text.length() >= prefix.length() && std::memcmp(text.text(), prefix.text(), size_t(prefix.length())) == 0;
}

bool same(const LoString& a, const LoString& b)
{
    return a.length() == b.length() && std::memcmp(a.text(), b.text(), size_t(a.length())) == 0;
}

// Record keys whose value goes into a text field as it is.
struct TextKey {
    const char* key;
    LoString TWConnectorAppInfo::*field;
};
const TextKey kTextKeys[] = {
    {"Path", &TWConnectorAppInfo::path},
    {"WindowClassName", &TWConnectorAppInfo::windowClassName},
    {"DisplayName", &TWConnectorAppInfo::displayName},
    {"BundleIdentifier", &TWConnectorAppInfo::bundleIdentifier},
    {"ExecutableExtensionWin", &TWConnectorAppInfo::executableExtension},
    {"OMVDictionary", &TWConnectorAppInfo::omvDictionary},
    {"DeveloperInstallPath", &TWConnectorAppInfo::developerInstallPath},
    {"RedirectTo", &TWConnectorAppInfo::redirectTo},
};

// Record keys whose value sets a flag: true exactly for "true".
struct FlagKey {
    const char* key;
    bool TWConnectorAppInfo::*field;
};
const FlagKey kFlagKeys[] = {
    {"AllowMultipleInstances", &TWConnectorAppInfo::allowMultipleInstances},
    {"IsShellTool", &TWConnectorAppInfo::isShellTool},
    {"SupportsTVTK", &TWConnectorAppInfo::supportsTVTK},
    {"MessageAuthentication", &TWConnectorAppInfo::messageAuthentication},
    {"MessageDigest", &TWConnectorAppInfo::messageDigest},
};

}  // namespace

// ---- the connector ------------------------------------------------------------

PCDConnector::PCDConnector(const LoString& name, bool sourceFlag, u32 kind)
    : TellwireConnector(name), products_(new ProductData), sourceFlag_(sourceFlag), kind_(kind)
{
    if (products_)
        scanInstalledProducts(*products_);
}

PCDConnector::~PCDConnector()
{
    delete products_;
}

bool PCDConnector::storeAppInfo(const TWConnectorAppInfo&)
{
    return true;
}

bool PCDConnector::addGroupEntry(const LoString&, const LoString&, const LoString*)
{
    return false;
}

bool PCDConnector::removeGroupEntry(const LoString&, const LoString&, const LoString*)
{
    return false;
}

void PCDConnector::getKind(LoString& out)
{
    out.assign("PCD");
}

bool PCDConnector::fillTable(TWConnectorAppInfoList& list, LoVector<LoString>& groups)
{
    list.clear();
    if (!products_)
        return false;
    PCDInitLists walk(list, groups);
    return walk.iterate(*products_);
}

bool PCDConnector::refresh(bool)
{
    return false;
}

bool PCDConnector::hasAppInfo(const TWConnectorAppInfo& record)
{
    ObjectLock guard(*this);
    TWConnectorAppInfoList* list = getAppList();
    if (!list)
        return true;
    TWConnectorAppInfo found;
    int index;
    return list->findCopy(record.specifier, found, &index);
}

TellwireConnector* createConnector(const LoString& name, const LoString& kind)
{
    if (kind.isEmpty() || kind.compare("default") == 0 || kind.compare("PCD") == 0)
        return new PCDConnector(name, true, 1);
    return nullptr;
}

// ---- the walk -------------------------------------------------------------------

PCDIterator::PCDIterator() : recordRoot_("/morvane/tellwire/"), groupsRoot_("/morvane/tellwire/groups/") {}

PCDIterator::~PCDIterator() = default;

bool PCDIterator::isRecordCode(const LoString& code) const
{
    return startsWith(code, recordRoot_);
}

// The list code itself, and anything below it.
bool PCDIterator::isGroupListCode(const LoString& code) const
{
    LoString withSlash(code);
    withSlash += '/';
    return startsWith(withSlash, groupsRoot_);
}

bool PCDIterator::iterate(const ProductData& data)
{
    try {
        begin(data);
        for (int i = 0; i < data.productCount(); ++i) {
            LoString code = data.productCode(i);
            if (!isRecordCode(code))
                continue;
            std::vector<ProductEntry> entries = listProductEntries(data, code);
            TWConnectorAppInfo record;
            beginCode(data, code, record);
            for (const ProductEntry& entry : entries)
                onKey(data, code, entry.key, record);
            endCode(data, code, record);
        }
        end();
        return true;
    } catch (...) {
        return false;
    }
}

void PCDIterator::begin(const ProductData&) {}

void PCDIterator::end() {}

bool PCDIterator::beginCode(const ProductData&, const LoString&, TWConnectorAppInfo&)
{
    return true;
}

bool PCDIterator::onError()
{
    return false;
}

bool PCDIterator::onKey(const ProductData& data, const LoString& code, const LoString& key,
                        TWConnectorAppInfo& record)
{
    if (!isRecordCode(code))
        return true;
    if (isGroupListCode(code)) {
        if (!startsWith(key, LoString("Group")))
            return true;
        LoString value;
        getConfigValue(data, code, key, value);
        if (value.length() <= groupsRoot_.length())
            return true;
        return addGroup(data, code, LoString(value.text() + groupsRoot_.length()).lowerCased());
    }
    if (key.compare("Specifier") == 0 || key.compare("ProductCode") == 0) {
        getConfigValue(data, code, key, record.specifier);
        record.specifier = record.specifier.lowerCased();
        return true;
    }
    for (const TextKey& text : kTextKeys)
        if (key.compare(text.key) == 0) {
            getConfigValue(data, code, key, record.*text.field);
            return true;
        }
    LoString value;
    getConfigValue(data, code, key, value);
    for (const FlagKey& flag : kFlagKeys)
        if (key.compare(flag.key) == 0) {
            record.*flag.field = value.compare("true") == 0;
            return true;
        }
    if (key.compare("TellwireVersion") == 0) {
        if (!value.isEmpty())
            record.tellwireVersion = readNumber(value);
    } else if (key.compare("ExecutableBasename") == 0) {
        if (!value.isEmpty())
            record.executableBasename = value;
        if (record.path.isEmpty())
            record.path = isMakerDomainUrl(value);
    }
    return true;
}

bool PCDIterator::endCode(const ProductData& data, const LoString& code, TWConnectorAppInfo& record)
{
    if (isGroupListCode(code))
        return true;
    // Without a "Specifier" key the code names the record, as it is written.
    if (record.specifier.isEmpty() && code.length() > recordRoot_.length() + 1)
        record.specifier.assign(code.text() + recordRoot_.length());
    return record.specifier.isEmpty() ? true : storeRecord(data, record);
}

// ---- storing what the walk finds ------------------------------------------------

PCDInitLists::PCDInitLists(TWConnectorAppInfoList& list, LoVector<LoString>& groups) : list_(list), groups_(groups) {}

PCDInitLists::~PCDInitLists()
{
    deleteJoins();
}

void PCDInitLists::deleteJoins()
{
    while (joins_.count() > 0)
        delete joins_.removeAt(joins_.count() - 1);
}

void PCDInitLists::begin(const ProductData& data)
{
    list_.clear();
    while (groups_.count() > 0)
        delete groups_.removeAt(groups_.count() - 1);
    deleteJoins();
    for (int i = 0; i < data.productCount(); ++i) {
        LoString code = data.productCode(i);
        if (code.text()[0] != '{')
            continue;
        LoString path = getProductValue(data, code, LoString(kConfigPathKey));
        LoString launch = data.getLaunchString(path);
        if (path.isEmpty() && launch.isEmpty())
            continue;
        // "TellwireCode", then "TellwireCode1", "TellwireCode2"... until one is missing.
        for (unsigned n = 0;; ++n) {
            char key[32];
            if (n == 0)
                std::snprintf(key, sizeof key, "%s", kTellwireCodeKey);
            else
                std::snprintf(key, sizeof key, "%s%u", kTellwireCodeKey, n);
            LoString value = getProductValue(data, code, LoString(key));
            if (value.isEmpty())
                break;
            PayloadJoin* join = new PayloadJoin;
            if (!join)
                throw std::bad_alloc();
            join->tellwireCode = value.lowerCased();
            join->configurationPath = path;
            join->launchString = launch;
            joins_.append(join);
        }
    }
}

void PCDInitLists::end()
{
    list_.resolveRedirects();
}

bool PCDInitLists::onError()
{
    list_.clear();
    return false;
}

bool PCDInitLists::storeRecord(const ProductData&, TWConnectorAppInfo& record)
{
    if (record.specifier.isEmpty())
        return true;
    LoString lowered = record.specifier.lowerCased();
    if (record.windowClassName.isEmpty())
        Tellwire::Specifier(lowered.text(), false).getName(record.windowClassName);
    if (record.path.isEmpty()) {
        LoString code(recordRoot_);
        code += lowered;
        for (int i = 0; i < joins_.count(); ++i) {
            const PayloadJoin* join = joins_.get(i);
            if (!same(join->tellwireCode, code))
                continue;
            record.path = join->launchString.isEmpty() ? buildExecutablePath(record, join->configurationPath)
                                                       : join->launchString;
        }
    }
    if (record.path.isEmpty() && record.redirectTo.isEmpty())
        return true;
    list_.addIfNew(new TWConnectorAppInfo(record));
    return true;
}

bool PCDInitLists::addGroup(const ProductData&, const LoString&, const LoString& text)
{
    LoString* entry = new LoString(text);
    if (!entry)
        return false;
    groups_.append(entry);
    return true;
}

// ---- paths ---------------------------------------------------------------------------

LoString buildExecutablePath(const TWConnectorAppInfo& record, const LoString& installPath)
{
    if (record.executableBasename.isEmpty() || installPath.isEmpty())
        return LoString();
    LoString dir(installPath);
    // A file's path: its folder's folder is the installation folder.
    if (std::strchr(dir.text(), '.')) {
        for (int cut = 0; cut < 2 && !dir.isEmpty(); ++cut) {
            const char* slash = std::strrchr(dir.text(), '/');
            if (slash)
                dir.truncate(int(slash - dir.text()));
            else
                dir.assign("");
        }
    }
    if (dir.isEmpty())
        return LoString();
    LoString path(dir);
    path += '/';
    path += record.executableBasename;
    path += '.';
    if (!record.executableExtension.isEmpty())
        path += record.executableExtension;
    else
        path += record.isShellTool ? "bat" : "exe";
    return path;
}

LoString isMakerDomainUrl(const LoString& text)
{
    if (std::strncmp(text.text(), "https://", 8) != 0)
        return LoString();
    // The host ends where a path, a query or a fragment begins (a browser
    // reads '\' as '/'), so "https://elsewhere?.suffix" is not on the domain.
    const char* host = text.text() + 8;
    size_t length = std::strcspn(host, "/?#\\");
    size_t suffix = sizeof kMakerDomainSuffix - 1;
    if (length > suffix && std::memcmp(host + length - suffix, kMakerDomainSuffix, suffix) == 0)
        return text;
    return LoString();
}

}  // namespace LxObjects
