#include "objects/PCDConnector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/tests/ProductFixtures.h"

using LxObjects::LoString;
using LxObjects::TWConnectorAppInfo;
using ProductFixtures::data;
using ProductFixtures::installer;
using ProductFixtures::product;
using ProductFixtures::ScannedConnector;
using ProductFixtures::str;

namespace {

class ProductTable : public ProductFixtures::ProductFolders {
protected:
    void SetUp() override
    {
        ProductFolders::SetUp();
        listed = root + "/Products/Config/listed.xml";
    }

    // One listed configuration file holding products.
    void install(const std::string& products, const std::string& launch = "/opt/launch")
    {
        writeConfig(listed, products);
        writeList({{listed, launch}});
    }

    std::string listed;
};

TEST_F(ProductTable, PathBuiltFromTheInstallerProduct)
{
    std::string installed = root + "/Program Files/App/Config/app.xml";
    install(product("/morvane/tellwire/app-1.0", data("ExecutableBasename", "app")) +
            installer("{A}", installed, "/morvane/tellwire/app-1.0"));
    ScannedConnector connector;
    TWConnectorAppInfo r;
    ASSERT_TRUE(connector.record("app-1.0", r));
    EXPECT_EQ(str(r.windowClassName), "app");
    EXPECT_EQ(str(r.path), root + "/Program Files/App/app.exe");
}

TEST_F(ProductTable, LaunchStringOfTheListTakesPrecedence)
{
    install(product("/morvane/tellwire/app-1.0", data("ExecutableBasename", "app")) +
                installer("{A}", listed, "/MORVANE/TellWire/App-1.0"),
            "/opt/Vandrel App/app.exe");
    ScannedConnector connector;
    TWConnectorAppInfo r;
    ASSERT_TRUE(connector.record("app-1.0", r));
    EXPECT_EQ(str(r.path), "/opt/Vandrel App/app.exe");
}

TEST_F(ProductTable, KeysFillTheRecord)
{
    install(product("/morvane/tellwire/x", data("ProductCode", "Vandrel-2.5-EN_US") + data("Path", "/opt/v/v.exe") +
                                               data("WindowClassName", "VandrelMain") +
                                               data("DisplayName", "Vandrel &amp; Co") +
                                               data("BundleIdentifier", "org.vandrel.app") +
                                               data("TellwireVersion", "1.5") +
                                               data("AllowMultipleInstances", "true") +
                                               data("IsShellTool", "True") + data("SupportsTVTK", "true") +
                                               data("MessageAuthentication", "false") +
                                               data("MessageDigest", "no") +
                                               data("ExecutableBasename", "v") +
                                               data("ExecutableExtensionWin", "sh") +
                                               data("OMVDictionary", "vandrel-dict") +
                                               data("DeveloperInstallPath", "/home/dev/v") +
                                               data("RedirectTo", "") + data("Unknown", "ignored")));
    ScannedConnector connector;
    TWConnectorAppInfo r;
    ASSERT_TRUE(connector.record("vandrel-2.5-en_us", r));
    EXPECT_EQ(str(r.path), "/opt/v/v.exe");
    EXPECT_EQ(str(r.windowClassName), "VandrelMain");
    EXPECT_EQ(str(r.displayName), "Vandrel & Co");
    EXPECT_EQ(str(r.bundleIdentifier), "org.vandrel.app");
    EXPECT_EQ(r.tellwireVersion, 1.5);
    EXPECT_TRUE(r.allowMultipleInstances);
    EXPECT_FALSE(r.isShellTool);  // "True" is not "true"
    EXPECT_TRUE(r.supportsTVTK);
    EXPECT_FALSE(r.messageAuthentication);
    EXPECT_FALSE(r.messageDigest);
    EXPECT_EQ(str(r.executableBasename), "v");
    EXPECT_EQ(str(r.executableExtension), "sh");
    EXPECT_EQ(str(r.omvDictionary), "vandrel-dict");
    EXPECT_EQ(str(r.developerInstallPath), "/home/dev/v");
    EXPECT_TRUE(r.redirectTo.isEmpty());
}

TEST_F(ProductTable, VersionThatIsNoNumberReadsAsZero)
{
    install(product("/morvane/tellwire/a-1", data("Path", "/a") + data("TellwireVersion", "two")));
    ScannedConnector connector;
    TWConnectorAppInfo r;
    ASSERT_TRUE(connector.record("a-1", r));
    EXPECT_EQ(r.tellwireVersion, 0.0);
}

TEST_F(ProductTable, SpecifierFromTheCodeAsWritten)
{
    install(product("/morvane/tellwire/Tool-3.0", data("Path", "/opt/tool")) +
            product("/morvane/tellwire/x", data("Path", "/opt/x")) +  // one character: no specifier
            product("/morvane/tellwire/", data("Path", "/opt/none")));
    ScannedConnector connector;
    EXPECT_EQ(connector.specifiers(), std::vector<std::string>{"Tool-3.0"});  // not lower-cased
}

TEST_F(ProductTable, GroupListGivesGroupEntries)
{
    install(product("/morvane/tellwire/groups", data("Group000", "/morvane/tellwire/groups/Suite/2/App-1.0") +
                                                    data("Group001", "/morvane/tellwire/groups/") +
                                                    data("Other", "/morvane/tellwire/groups/suite/2/no") +
                                                    data("GroupX", "/morvane/tellwire/groups/suite/2/draw-2.*")));
    ScannedConnector connector;
    EXPECT_EQ(connector.groupEntries(), (std::vector<std::string>{"suite/2/app-1.0", "suite/2/draw-2.*"}));
    EXPECT_EQ(connector.getApplicationCount(), 0);
}

TEST_F(ProductTable, RecordWithoutPathOrRedirectIsDropped)
{
    install(product("/morvane/tellwire/lost-1.0", data("ExecutableBasename", "lost")) +
            product("/morvane/tellwire/alias-1.0", data("RedirectTo", "real-1.0")) +
            product("/morvane/tellwire/real-1.0", data("Path", "/opt/real")));
    ScannedConnector connector;
    EXPECT_EQ(connector.specifiers(), (std::vector<std::string>{"alias-1.0", "real-1.0"}));
    TWConnectorAppInfo r;
    ASSERT_TRUE(connector.record("alias-1.0", r));
    EXPECT_EQ(str(r.path), "/opt/real");
}

TEST_F(ProductTable, EveryTellwireCodeOfAnInstallerJoins)
{
    std::string installed = root + "/Suite/Config/suite.xml";
    install(product("/morvane/tellwire/one", data("ExecutableBasename", "one")) +
            product("/morvane/tellwire/two", data("ExecutableBasename", "two")) +
            product("/morvane/tellwire/three", data("ExecutableBasename", "three")) +
            product("/morvane/tellwire/five", data("ExecutableBasename", "five")) +
            product("{S}", data("KPVConfigPath", installed) + data("TellwireCode", "/morvane/tellwire/one") +
                               data("TellwireCode1", "/morvane/tellwire/two") +
                               data("TellwireCode2", "/morvane/tellwire/three") +
                               data("TellwireCode4", "/morvane/tellwire/five")));
    ScannedConnector connector;
    EXPECT_EQ(connector.specifiers(), (std::vector<std::string>{"one", "two", "three"}));
    TWConnectorAppInfo r;
    ASSERT_TRUE(connector.record("three", r));
    EXPECT_EQ(str(r.path), root + "/Suite/three.exe");
}

TEST_F(ProductTable, MakerAddressAsBasenameIsThePath)
{
    install(product("/morvane/tellwire/web", data("ExecutableBasename", "https://apps.morvane.example/web")) +
            product("/morvane/tellwire/both", data("Path", "/opt/both") +
                                                  data("ExecutableBasename", "https://apps.morvane.example/x")) +
            product("/morvane/tellwire/other", data("ExecutableBasename", "https://example.org/other")));
    ScannedConnector connector;
    EXPECT_EQ(connector.specifiers(), (std::vector<std::string>{"web", "both"}));
    TWConnectorAppInfo r;
    ASSERT_TRUE(connector.record("web", r));
    EXPECT_EQ(str(r.path), "https://apps.morvane.example/web");
    ASSERT_TRUE(connector.record("both", r));
    EXPECT_EQ(str(r.path), "/opt/both");
}

TEST_F(ProductTable, ProductDataIsReadOnce)
{
    install(product("/morvane/tellwire/a-1", data("Path", "/a")));
    ScannedConnector connector;
    EXPECT_EQ(connector.getApplicationCount(), 1);
    install(product("/morvane/tellwire/a-1", data("Path", "/a")) + product("/morvane/tellwire/b-1", data("Path", "/b")));
    connector.resetTable();
    EXPECT_EQ(connector.specifiers(), std::vector<std::string>{"a-1"});
}

TEST_F(ProductTable, KindFactoryAndQueries)
{
    install(product("/morvane/tellwire/a-1.0", data("Path", "/a")));
    LxObjects::TellwireConnector* global = globalConnector();
    ASSERT_NE(dynamic_cast<LxObjects::PCDConnector*>(global), nullptr);
    LoString kind;
    global->getKind(kind);
    EXPECT_EQ(str(kind), "PCD");
    LoString path;
    global->getApplicationPath(path, LoString("A-1.0"));
    EXPECT_EQ(str(path), "/a");
    EXPECT_TRUE(LxObjects::Tellwire::Specifier("a-1.0", false).isInstalled());

    TWConnectorAppInfo known, unknown;
    known.specifier.assign("a-1.0");
    unknown.specifier.assign("b-1.0");
    EXPECT_TRUE(global->hasAppInfo(known));
    EXPECT_FALSE(global->hasAppInfo(unknown));
    EXPECT_TRUE(global->storeAppInfo(known));
    EXPECT_FALSE(global->addGroupEntry(LoString("a-1.0"), LoString("suite"), nullptr));
    EXPECT_FALSE(global->removeGroupEntry(LoString("a-1.0"), LoString("suite"), nullptr));

    for (const char* name : {"", "default", "PCD"}) {
        std::unique_ptr<LxObjects::TellwireConnector> made(LxObjects::createConnector(LoString("n"), LoString(name)));
        EXPECT_NE(dynamic_cast<LxObjects::PCDConnector*>(made.get()), nullptr) << name;
    }
    EXPECT_EQ(LxObjects::createConnector(LoString("n"), LoString("pcd")), nullptr);
}

TEST(ExecutablePaths, BuiltFromTheInstallPath)
{
    struct Case {
        const char* basename;
        const char* extension;
        bool shellTool;
        const char* installPath;
        const char* path;
    } cases[] = {
        {"app", "exe", false, "/opt/Program Files/App/Config/app.xml", "/opt/Program Files/App/app.exe"},
        {"app", "exe", false, "/opt/App", "/opt/App/app.exe"},  // a folder is used as it is
        {"app", "", false, "/opt/App", "/opt/App/app.exe"},
        {"tool", "", true, "/opt/Tools", "/opt/Tools/tool.bat"},
        {"app", "sh", false, "/opt/app.d/Config/app.xml", "/opt/app.d/app.sh"},
        {"app", "exe", false, "/App/app.xml", ""},  // nothing left above
        {"app", "exe", false, "app.xml", ""},
        {"", "exe", false, "/opt/App", ""},
        {"app", "exe", false, "", ""},
    };
    for (const Case& c : cases) {
        TWConnectorAppInfo r;
        r.executableBasename.assign(c.basename);
        r.executableExtension.assign(c.extension);
        r.isShellTool = c.shellTool;
        EXPECT_EQ(str(LxObjects::buildExecutablePath(r, LoString(c.installPath))), c.path) << c.installPath;
    }
}

TEST(ExecutablePaths, MakerDomainAddresses)
{
    struct Case {
        const char* text;
        bool accepted;
    } cases[] = {
        {"https://apps.morvane.example/app", true},
        {"https://apps.morvane.example", true},
        {"https://.morvane.example/", false},  // no host before the suffix
        {"http://apps.morvane.example/app", false},
        {"HTTPS://apps.morvane.example/app", false},
        {"https://apps.morvane.example.org/app", false},
        {"https://evil.test?.morvane.example", false},
        {"https://evil.test#.morvane.example", false},
        {"https://evil.test\\.morvane.example", false},
        {"https://apps.morvane.example:8443/app", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(LxObjects::isMakerDomainUrl(LoString(c.text))), c.accepted ? c.text : "") << c.text;
}

}  // namespace
