// Helpers of the product tests: fixture product lists, configuration files
// and small programs in each test's own folders, and connectors made from
// them.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "objects/Connector.h"
#include "objects/PCDConnector.h"
#include "objects/Specifier.h"
#include "objects/tests/TestFolders.h"

namespace ProductFixtures {

using LxObjects::LoString;
using LxObjects::TWConnectorAppInfo;

inline std::string str(const LoString& s)
{
    return std::string(s.text(), size_t(s.length()));
}

// Text for an XML value or attribute.
inline std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// Text of a product list naming configuration files and launch strings.
struct ListedProduct {
    std::string configPath;
    std::string launchString;
};

inline std::string productList(const std::vector<ListedProduct>& products)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<InstalledProducts>\n";
    for (const ListedProduct& p : products)
        xml += "  <Product><KPVConfigPath>" + p.configPath + "</KPVConfigPath><LaunchString>" + p.launchString
             + "</LaunchString></Product>\n";
    return xml + "</InstalledProducts>\n";
}

// A configuration file's text from its product elements.
inline std::string configuration(const std::string& products)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n" + products + "</Configuration>\n";
}

inline std::string data(const std::string& key, const std::string& value)
{
    return "    <Data key=\"" + key + "\">" + value + "</Data>\n";
}

// An element that carries entries for one product code.
inline std::string product(const std::string& code, const std::string& entries, const char* element = "Other")
{
    return "  <" + std::string(element) + " morvaneCode=\"" + code + "\">\n" + entries + "  </" + element + ">\n";
}

// The installer product that links a record code to a configuration file.
inline std::string installer(const std::string& guid, const std::string& configPath, const std::string& code)
{
    return product(guid, data("KPVConfigPath", configPath) + data("TellwireCode", code), "Payload");
}

inline void makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
    mkdir(path.c_str(), 0700);
}

inline std::string folderOf(const std::string& path)
{
    return path.substr(0, path.rfind('/'));
}

// A program that reports how it was started into report: its tag, process
// id, working folder, argument count and one argument a line.
inline void writeReportingProgram(const std::string& path, const std::string& report, const std::string& tag)
{
    makeFolders(folderOf(path));
    auto quoted = [](const std::string& s) {
        std::string out = "'";
        for (char c : s)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    TestFolders::writeFile(path,
                           "#!/bin/sh\n"
                           "report=" + quoted(report) + "\n"
                           "{ echo " + quoted(tag) + "; echo $$; pwd -P; echo $#;"
                           " for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$report.tmp\"\n"
                           "mv \"$report.tmp\" \"$report\"\n",
                           0755);
}

// Each test gets its own folders and product list, the user's locale en_US,
// and a process-wide connector made by the facility's factory.
class ProductFolders : public TestFolders::UserFolders {
protected:
    void SetUp() override
    {
        UserFolders::SetUp();
        setenv("LC_ALL", "en_US.UTF-8", 1);
        listPath = root + "/installed-products.xml";
    }

    void TearDown() override
    {
        LxObjects::destroyGlobalConnector();
        LxObjects::setConnectorFactory(nullptr);
        unsetenv("LC_ALL");
        UserFolders::TearDown();
    }

    void writeList(const std::vector<ListedProduct>& products) { TestFolders::writeFile(listPath, productList(products)); }

    void writeConfig(const std::string& path, const std::string& products)
    {
        makeFolders(folderOf(path));
        TestFolders::writeFile(path, configuration(products));
    }

    // The process-wide connector, made now from the fixture files.
    LxObjects::TellwireConnector* globalConnector()
    {
        LxObjects::setConnectorFactory(LxObjects::createConnector);
        LxObjects::createGlobalConnector(LoString("tester-1.0"));
        return LxObjects::getGlobalConnector();
    }

    std::string listPath;
};

// The connector of the process, with its table open to the tests.
class ScannedConnector : public LxObjects::PCDConnector {
public:
    ScannedConnector() : PCDConnector(LoString("tester-1.0"), true, 1) {}

    // The record stored under exactly this specifier.
    bool record(const char* specifier, TWConnectorAppInfo& out)
    {
        LxObjects::TWConnectorAppInfoList* list = getAppList();
        int index;
        return list && list->findCopy(LoString(specifier), out, &index) && out.specifier.compare(specifier) == 0;
    }

    std::vector<std::string> specifiers()
    {
        std::vector<std::string> out;
        for (int i = 0; i < getApplicationCount(); ++i) {
            LoString s;
            getApplicationSpecifier(s, LxObjects::u32(i));
            out.push_back(str(s));
        }
        return out;
    }

    std::vector<std::string> groupEntries()
    {
        std::vector<std::string> out;
        LxObjects::LoVector<LoString>* entries = getGroupEntries();
        for (int i = 0; entries && i < entries->count(); ++i)
            out.push_back(str(*entries->get(i)));
        return out;
    }
};

// A connector whose records the tests give.
class RecordsConnector : public LxObjects::TellwireConnector {
public:
    RecordsConnector() : TellwireConnector(LoString("tester-1.0")) {}

    bool storeAppInfo(const TWConnectorAppInfo&) override { return true; }
    bool addGroupEntry(const LoString&, const LoString&, const LoString*) override { return false; }
    bool removeGroupEntry(const LoString&, const LoString&, const LoString*) override { return false; }
    void getKind(LoString& out) override { out.assign("RECORDS"); }
    bool fillTable(LxObjects::TWConnectorAppInfoList& list, LxObjects::LoVector<LoString>& entries) override
    {
        for (const TWConnectorAppInfo& r : records)
            list.addIfNew(new TWConnectorAppInfo(r));
        for (const std::string& g : groups)
            entries.append(new LoString(g.c_str()));
        return true;
    }

    std::vector<TWConnectorAppInfo> records;
    std::vector<std::string> groups;
};

}  // namespace ProductFixtures
