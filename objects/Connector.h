// The connector: the table of the applications Tellwire knows on this
// machine, one record per application plus the suite (group) entries, and
// the questions the facility asks about them. Where the records come from
// is the business of a subclass (fillTable). Queries never fail: an empty
// text, 0 or false stands for nothing known.
#pragma once
#include "objects/LoLock.h"
#include "objects/LoString.h"
#include "objects/LoTypes.h"
#include "objects/LoVector.h"

namespace LxObjects {

// One application.
class TWConnectorAppInfo : public LoHeap {
public:
    TWConnectorAppInfo();
    TWConnectorAppInfo(const TWConnectorAppInfo& other);
    TWConnectorAppInfo& operator=(const TWConnectorAppInfo& other);
    ~TWConnectorAppInfo() override;

    // Every field but processId.
    bool operator==(const TWConnectorAppInfo& other) const;
    bool operator!=(const TWConnectorAppInfo& other) const { return !(*this == other); }

    LoString specifier;             // lower case; the record's identity
    LoString path;                  // non-empty means installed
    LoString windowClassName;
    LoString bundleIdentifier;
    LoString displayName;
    double tellwireVersion;         // 2.0
    bool allowMultipleInstances;    // false
    bool isShellTool;               // false
    bool supportsTVTK;              // false
    bool messageAuthentication;     // true
    bool messageDigest;             // true
    LoString executableBasename;
    LoString executableExtension;   // "exe"
    LoString omvDictionary;         // empty or "none": no dictionary
    LoString developerInstallPath;
    LoString redirectTo;            // a record whose path this one uses
    u32 processId;                  // of the last launch; never persisted
};

// The records of a table. The list owns them; every operation holds the
// list's (recursive) lock, and pointers from find stay valid only while the
// caller holds it too.
class TWConnectorAppInfoList : public LoLockable {
public:
    TWConnectorAppInfoList();
    ~TWConnectorAppInfoList() override;

    // Exact specifier first, then the specifier lower-cased and without its
    // instance part. *index is -1 when nothing is found.
    TWConnectorAppInfo* find(const LoString& specifier, int* index);
    bool findCopy(const LoString& specifier, TWConnectorAppInfo& out, int* index);
    // An index outside the list leaves out unchanged.
    void copyAt(int index, TWConnectorAppInfo& out);
    // Takes the record when no equal one is listed; deletes it otherwise.
    bool addIfNew(TWConnectorAppInfo* record);
    bool containsEqual(const TWConnectorAppInfo& record);
    void clear();
    int count();
    // Points every redirecting record at its target's path; true when at
    // least one record redirects.
    bool resolveRedirects();

private:
    LoVector<TWConnectorAppInfo> records_;
};

// Group entries read group "/" set "/" member specifier.
struct GroupEntry {
    LoString group;
    LoString set;
    LoString member;
};
// False for an entry without a '/' or with a single one.
bool splitGroupEntry(const LoString& entry, GroupEntry& out);

class TellwireConnector : public LoLockable {
public:
    // The key texts of the configuration data, in this order.
    enum Key {
        kConfigurationRoot, kGroupsRoot, kGroup, kSpecifier, kPath, kWindowClassName, kDisplayName,
        kBundleIdentifier, kTellwireVersion, kAllowMultipleInstances, kIsShellTool, kMessageAuthentication,
        kMessageDigest, kSupportsTVTK, kExecutableBasename, kExecutableExtensionWin, kOMVDictionary,
        kDeveloperInstallPath, kRedirectTo, kExecutablePath, kKeyCount
    };

    explicit TellwireConnector(const LoString& name);
    ~TellwireConnector() override;

    // Resolution within suites.
    virtual void resolveForSender(LoString& out, const LoString& sender, const LoString& target,
                                  const LoString& group);
    virtual void getGroupOf(LoString& out, const LoString& specifier, LoString* set);
    virtual void resolveInGroupSet(LoString& out, const LoString& target, const LoString& group,
                                   const LoString& set);

    // Builds the table when needed; true when it exists.
    virtual bool isTableAvailable();
    // Starts the application's program with arguments (none when empty), in
    // the program's folder, and records the new process id; a developer
    // shortcut DeveloperApp.lnk beside the program takes its place. An
    // instance specifier gets a record of its own. False when the
    // application is unknown, has no path, or did not start.
    virtual bool launchApplication(const LoString& specifier, const LoString& arguments, bool show);
    virtual int getApplicationCount();
    // Index 0xFFFFFFFF gives the connector's name; one past the table empty.
    virtual void getApplicationSpecifier(LoString& out, u32 index);
    virtual void getDisplayName(LoString& out, const LoString& name, const LoString& version,
                                const LoString& locale);
    // Raises the application's main window; there are no windows here.
    virtual void bringToFront(const char* specifier);
    // The specifier's engine part plays no part.
    virtual void getApplicationPath(LoString& out, const LoString& specifier);
    virtual bool supportsTVTK(const LoString& specifier);
    virtual bool isShellTool(const LoString& specifier);
    virtual bool usesMessageAuthentication(const LoString& specifier);
    virtual bool usesMessageDigest(const LoString& specifier);
    virtual void getBundleIdentifier(LoString& out, const LoString& specifier);
    virtual void getExecutableBasename(LoString& out, const LoString& specifier);
    virtual void getExecutableExtension(LoString& out, const LoString& specifier);
    // "none" for a record without a dictionary.
    virtual void getOMVDictionary(LoString& out, const LoString& specifier);
    virtual void getDeveloperInstallPath(LoString& out, const LoString& specifier);
    virtual void getRedirectTo(LoString& out, const LoString& specifier);
    // Exact specifier only.
    virtual bool setProcessId(const LoString& specifier, u32 pid);
    virtual u32 getProcessId(const LoString& specifier);
    // Drops the table; the next query builds it again.
    virtual void resetTable();

    // Asked before a registered record enters the table.
    virtual bool storeAppInfo(const TWConnectorAppInfo& record) = 0;
    virtual bool unregisterTarget(const LoString& specifier, const LoString& displayName);
    // set may be null.
    virtual bool addGroupEntry(const LoString& specifier, const LoString& group, const LoString* set) = 0;
    virtual bool removeGroupEntry(const LoString& specifier, const LoString& group, const LoString* set) = 0;
    virtual void getKind(LoString& out) = 0;
    // Fills a fresh, empty list and group vector; false means no table.
    virtual bool fillTable(TWConnectorAppInfoList& list, LoVector<LoString>& groups) = 0;
    virtual bool hasAppInfo(const TWConnectorAppInfo& record);
    // The configuration XML of one application, or of the group entries
    // when what is "groups"; empty when there is nothing to write.
    virtual void writeConfigurationXml(LoString& out, const LoString& what);

    // -- Diagnostics and maintenance --
    // Appends the "targets" branch (with its "groups") of the diagnostics
    // report below path. Running targets are asked for their status and
    // reports; no connector lock is held while they answer.
    virtual void writeDiagnostics(LoString& out, const LoString& path);
    // Takes over the records (those not present here) and the group entries
    // of a connector of another kind; false when the kinds are the same or
    // any step failed.
    virtual bool mergeFrom(TellwireConnector& other);
    // Unregisters every record and group entry, then drops the table; true
    // only when every step succeeded.
    virtual bool unregisterAll();
    // Builds the table anew; with checkLegacy the result is whether a legacy
    // target was found running, otherwise whether the table exists.
    virtual bool refresh(bool checkLegacy);
    // Same name, keys, group entries and records (process ids aside).
    virtual bool equals(TellwireConnector& other);
    // The comparison of equals, walking the larger of each two lists.
    virtual bool validateConnector(TellwireConnector& other);
    // Registers the built-in legacy targets that run without being
    // installed; true when at least one runs.
    virtual bool registerRunningLegacyTargets();
    // Registers a target found running; this connector keeps none.
    virtual bool registerRunningTarget(const LoString& specifier, const LoString& path, u32 processId,
                                       bool show, bool running);

    // Adds a record taken from elsewhere; a shell tool gets its wrapper
    // script first. False when the record is incomplete, already present
    // with the same path, or refused.
    bool registerAppInfo(const TWConnectorAppInfo& record);

    const LoString& getName() const { return name_; }
    const LoString& key(Key k) const { return keys_[k]; }

protected:
    // The table, built when needed; null while it cannot be built.
    TWConnectorAppInfoList* getAppList();
    // The group entries, built with the table; kept even when the build failed.
    LoVector<LoString>* getGroupEntries();
    bool isTableBuilt() const { return tableBuilt_; }

private:
    void buildTable();
    void deleteGroups();
    bool lookup(const LoString& specifier, TWConnectorAppInfo& out);
    // One text field of the record for a specifier; empty when none is known.
    LoString recordText(const LoString& specifier, LoString TWConnectorAppInfo::*field);
    void recordLaunch(const LoString& specifier, const TWConnectorAppInfo& found, u32 pid);

    LoVector<LoString>* groups_;
    TWConnectorAppInfoList* apps_;
    bool tableBuilt_;
    LoString name_;
    LoString keys_[kKeyCount];
};

// Resolution that needs no particular connector: it works on the installed
// list of the process-wide one.
// The text before the first '.' of a version; empty without one or when the
// text begins with '.'.
LoString versionMajor(const LoString& version);
// The installed specifier for target, guided by hint (which may carry the
// wildcard ".*"); empty when nothing fits.
LoString resolveWithHint(const LoString& target, const LoString& hint);

// The process-wide connector. The facility installs the factory that makes
// a connector of a kind; without one createGlobalConnector leaves none.
using ConnectorFactory = TellwireConnector* (*)(const LoString& name, const LoString& kind);
void setConnectorFactory(ConnectorFactory factory);
bool createGlobalConnector(const LoString& name);
TellwireConnector* getGlobalConnector();
bool destroyGlobalConnector();

}  // namespace LxObjects
