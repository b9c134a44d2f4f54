// The connector of the process: its table comes from the installed
// products. The product data is scanned once, when the connector is made;
// the table is built from it (and may be rebuilt from it) by a walk over
// the product codes and their keys.
#pragma once
#include "objects/Connector.h"
#include "objects/ProductScan.h"

namespace LxObjects {

class PCDConnector : public TellwireConnector {
public:
    // The facility passes sourceFlag true and kind 1.
    PCDConnector(const LoString& name, bool sourceFlag, u32 kind);
    ~PCDConnector() override;

    bool storeAppInfo(const TWConnectorAppInfo& record) override;
    bool addGroupEntry(const LoString& specifier, const LoString& group, const LoString* set) override;
    bool removeGroupEntry(const LoString& specifier, const LoString& group, const LoString* set) override;
    void getKind(LoString& out) override;
    bool fillTable(TWConnectorAppInfoList& list, LoVector<LoString>& groups) override;
    // True while no table can be built; otherwise whether the table holds
    // a record for the record's specifier.
    bool hasAppInfo(const TWConnectorAppInfo& record) override;
    // The product data is read once: the table stays as it is. False.
    bool refresh(bool checkLegacy) override;

    // Null only when it could not be allocated.
    const ProductData* getProductData() const { return products_; }

private:
    ProductData* products_;
    bool sourceFlag_;
    u32 kind_;
};

// The facility's connector factory: a PCDConnector for the kinds "",
// "default" and "PCD", nothing for any other.
TellwireConnector* createConnector(const LoString& name, const LoString& kind);

// The walk over product data. Every code under "/morvane/tellwire/" is one
// record (or, under ".../groups", the group list) whose keys fill in the
// record's fields; a subclass keeps what the walk finds.
class PCDIterator {
public:
    PCDIterator();
    virtual ~PCDIterator();
    PCDIterator(const PCDIterator&) = delete;
    PCDIterator& operator=(const PCDIterator&) = delete;

    // False when an exception escaped the walk.
    bool iterate(const ProductData& data);

protected:
    virtual void begin(const ProductData& data);
    virtual void end();
    virtual bool beginCode(const ProductData& data, const LoString& code, TWConnectorAppInfo& record);
    virtual bool endCode(const ProductData& data, const LoString& code, TWConnectorAppInfo& record);
    virtual bool onKey(const ProductData& data, const LoString& code, const LoString& key,
                       TWConnectorAppInfo& record);
    // Reading a value never fails, so nothing calls this.
    virtual bool onError();
    virtual bool storeRecord(const ProductData& data, TWConnectorAppInfo& record) = 0;
    virtual bool addGroup(const ProductData& data, const LoString& code, const LoString& text) = 0;

    bool isRecordCode(const LoString& code) const;
    bool isGroupListCode(const LoString& code) const;

    const LoString recordRoot_;  // "/morvane/tellwire/"
    const LoString groupsRoot_;  // "/morvane/tellwire/groups/"
};

// An installer product that names a record's Tellwire code, with its
// configuration file and the launch string the product list gives for it.
struct PayloadJoin : public LoHeap {
    LoString tellwireCode;  // lower case
    LoString configurationPath;
    LoString launchString;
};

// Stores the records into a connector's list and the group entries into
// its group vector; neither is owned.
class PCDInitLists : public PCDIterator {
public:
    PCDInitLists(TWConnectorAppInfoList& list, LoVector<LoString>& groups);
    ~PCDInitLists() override;

protected:
    void begin(const ProductData& data) override;
    void end() override;
    bool onError() override;
    bool storeRecord(const ProductData& data, TWConnectorAppInfo& record) override;
    bool addGroup(const ProductData& data, const LoString& code, const LoString& text) override;

private:
    void deleteJoins();

    TWConnectorAppInfoList& list_;
    LoVector<LoString>& groups_;
    LoVector<PayloadJoin> joins_;
};

// The program of a record installed where installPath (a configuration
// file two levels below the installation folder, or the folder itself)
// says: folder "/" basename "." extension. Empty without a basename or a
// folder.
LoString buildExecutablePath(const TWConnectorAppInfo& record, const LoString& installPath);
// The text itself when it is an "https://" address on the maker's domain;
// empty otherwise.
LoString isMakerDomainUrl(const LoString& text);

}  // namespace LxObjects
