#include "objects/ConfigurationXml.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "objects/tests/ProductFixtures.h"

using LxObjects::LoString;
using LxObjects::TWConnectorAppInfo;
using ProductFixtures::RecordsConnector;
using ProductFixtures::ScannedConnector;
using ProductFixtures::str;

namespace {

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n";

TWConnectorAppInfo named(const char* specifier)
{
    TWConnectorAppInfo r;
    r.specifier.assign(specifier);
    r.path.assign("/opt/app");
    return r;
}

std::string recordDocument(const std::string& specifier, const std::string& lines)
{
    return kHeader + "\t<Payload>\n\t\t<Data key=\"TellwireCode\">/morvane/tellwire/" + specifier +
           "</Data>\n\t</Payload>\n\n\t<Other morvaneCode=\"/morvane/tellwire/" + specifier + "\">\n" + lines +
           "\t</Other>\n</Configuration>\n";
}

std::string line(const std::string& key, const std::string& value)
{
    return "\t\t<Data key=\"" + key + "\">" + value + "</Data>\n";
}

class ConfigurationWriter : public ProductFixtures::ProductFolders {
protected:
    std::string write(const TWConnectorAppInfo& r, const char* what = nullptr)
    {
        RecordsConnector connector;
        connector.records.push_back(r);
        LoString out("not emptied");
        connector.writeConfigurationXml(out, LoString(what ? what : r.specifier.text()));
        return str(out);
    }

    std::string groups(const std::vector<std::string>& entries)
    {
        RecordsConnector connector;
        connector.groups = entries;
        LoString out;
        connector.writeConfigurationXml(out, LoString("groups"));
        return str(out);
    }
};

TEST_F(ConfigurationWriter, RecordWithDefaults)
{
    // 2.0 is what a reader takes for a missing version, so it is left out.
    EXPECT_EQ(write(named("app-1.0")), recordDocument("app-1.0", line("Specifier", "app-1.0")));
}

TEST_F(ConfigurationWriter, RecordWithEveryField)
{
    TWConnectorAppInfo r = named("vandrel-2.5-en_us");
    r.windowClassName.assign("VandrelMain");
    r.bundleIdentifier.assign("org.vandrel.app");
    r.displayName.assign("Vandrel");
    r.tellwireVersion = 1.0;
    r.allowMultipleInstances = r.isShellTool = r.supportsTVTK = true;
    r.messageAuthentication = r.messageDigest = false;
    r.executableBasename.assign("vandrel");
    r.executableExtension.assign("sh");
    r.omvDictionary.assign("vandrel-dict");
    r.developerInstallPath.assign("/home/dev/vandrel");
    r.redirectTo.assign("vandrel-3.0");
    r.processId = 42;
    EXPECT_EQ(write(r), recordDocument("vandrel-2.5-en_us",
                                       line("Specifier", "vandrel-2.5-en_us") + line("WindowClassName", "VandrelMain") +
                                           line("BundleIdentifier", "org.vandrel.app") +
                                           line("DisplayName", "Vandrel") + line("TellwireVersion", "1") +
                                           line("AllowMultipleInstances", "true") + line("IsShellTool", "true") +
                                           line("MessageAuthentication", "false") +
                                           line("MessageDigest", "false") + line("SupportsTVTK", "true") +
                                           line("ExecutableBasename", "vandrel") +
                                           line("ExecutableExtensionWin", "sh") +
                                           line("OMVDictionary", "vandrel-dict") +
                                           line("DeveloperInstallPath", "/home/dev/vandrel") +
                                           line("RedirectTo", "vandrel-3.0")));
}

TEST_F(ConfigurationWriter, LinesLeftOut)
{
    TWConnectorAppInfo r = named("app-1.0");
    r.omvDictionary.assign("none");
    r.executableExtension.assign("exe");  // without a basename
    EXPECT_EQ(write(r), recordDocument("app-1.0", line("Specifier", "app-1.0")));
}

TEST_F(ConfigurationWriter, VersionsReadBackEqual)
{
    struct Case {
        double version;
        const char* text;
    } cases[] = {{1.0, "1"}, {1.5, "1.5"}, {2.5, "2.5"}, {0.0, "0"}, {10.0, "10"}, {2.05, "2.05"}, {1e300, "1e+300"}};
    for (const Case& c : cases) {
        TWConnectorAppInfo r = named("app-1.0");
        r.tellwireVersion = c.version;
        EXPECT_EQ(write(r), recordDocument("app-1.0", line("Specifier", "app-1.0") + line("TellwireVersion", c.text)))
            << c.version;
        EXPECT_EQ(LxObjects::readNumber(LoString(c.text)), c.version);
    }
}

TEST_F(ConfigurationWriter, ValuesAreEscaped)
{
    TWConnectorAppInfo r = named("a&b-1.0");
    r.displayName.assign("A & <B> \"C\" 'D'");
    r.windowClassName.assign(" lead  two\ttab\nline\rcr\x01 ");
    r.bundleIdentifier.assign(" \t ");
    EXPECT_EQ(write(r), kHeader + "\t<Payload>\n\t\t<Data key=\"TellwireCode\">/morvane/tellwire/a&amp;b-1.0</Data>\n"
                                  "\t</Payload>\n\n\t<Other morvaneCode=\"/morvane/tellwire/a&amp;b-1.0\">\n" +
                            line("Specifier", "a&amp;b-1.0") +
                            line("WindowClassName",
                                 "&#32;lead&#32;&#32;two&#9;tab&#10;line&#13;cr&#1;&#32;") +
                            line("BundleIdentifier", "<![CDATA[ \t ]]>") +
                            line("DisplayName", "A &amp; &lt;B&gt; &quot;C&quot; 'D'") +
                            "\t</Other>\n</Configuration>\n");
}

TEST_F(ConfigurationWriter, NothingToWrite)
{
    EXPECT_EQ(write(named("app-1.0"), "other-1.0"), "");
    EXPECT_EQ(write(named("app-1.0"), ""), "");
    // Found as the table finds it: lower-cased, without the instance.
    EXPECT_EQ(write(named("app-1.0"), "APP_2-1.0"), recordDocument("app-1.0", line("Specifier", "app-1.0")));
}

TEST_F(ConfigurationWriter, GroupKeysHaveThreeDigitsAtLeast)
{
    std::vector<std::string> entries;
    for (int i = 0; i < 101; ++i)
        entries.push_back("suite/" + std::to_string(i) + "/app-1.0");
    std::string xml = groups(entries);
    EXPECT_EQ(xml.compare(0, kHeader.size(), kHeader), 0);
    EXPECT_NE(xml.find("\t<Other morvaneCode=\"/morvane/tellwire/groups\">\n"
                       "\t\t<Data key=\"Group000\">/morvane/tellwire/groups/suite/0/app-1.0</Data>\n"),
              std::string::npos);
    EXPECT_NE(xml.find(line("Group011", "/morvane/tellwire/groups/suite/11/app-1.0")), std::string::npos);
    EXPECT_NE(xml.find(line("Group100", "/morvane/tellwire/groups/suite/100/app-1.0") +
                       "\t</Other>\n</Configuration>\n"),
              std::string::npos);
}

TEST_F(ConfigurationWriter, EmptyGroupListWritesTheDefaults)
{
    std::string xml = groups({});
    EXPECT_NE(xml.find("<Data key=\"Group010\">/morvane/tellwire/groups/"), std::string::npos);
    EXPECT_EQ(xml.find("Group011"), std::string::npos);
}

TEST_F(ConfigurationWriter, GroupMembersCompletedAndWithoutInstance)
{
    LxObjects::setConnectorFactory([](const LoString&, const LoString&) -> LxObjects::TellwireConnector* {
        RecordsConnector* installed = new RecordsConnector;
        installed->records.push_back(named("draw-2.0-en_us"));
        return installed;
    });
    LxObjects::createGlobalConnector(LoString("tester-1.0"));
    std::string xml = groups({"Photo_Suite/1/Draw_3-2.0", "photo_suite/1/paint-1.0-de_de", "bare"});
    EXPECT_NE(xml.find(line("Group000", "/morvane/tellwire/groups/photo_suite/1/draw-2.0-en_us")), std::string::npos);
    EXPECT_NE(xml.find(line("Group001", "/morvane/tellwire/groups/photo_suite/1/paint-1.0-de_de")),
              std::string::npos);
    EXPECT_NE(xml.find(line("Group002", "/morvane/tellwire/groups/bare")), std::string::npos);
}

// ---- back through the scan ------------------------------------------------------------

class ConfigurationRoundTrip : public ProductFixtures::ProductFolders {
protected:
    // Writes each record's document as a product's configuration file,
    // launched by "/opt/<specifier>", and scans them.
    void scanWritten(const std::vector<TWConnectorAppInfo>& records)
    {
        RecordsConnector writer;
        writer.records = records;
        std::vector<ProductFixtures::ListedProduct> listed;
        std::string installers;
        for (size_t i = 0; i < records.size(); ++i) {
            std::string path = root + "/Products/app" + std::to_string(i) + "/Config/app.xml";
            LoString xml;
            writer.writeConfigurationXml(xml, records[i].specifier);
            ASSERT_FALSE(xml.isEmpty());
            ProductFixtures::makeFolders(ProductFixtures::folderOf(path));
            TestFolders::writeFile(path, str(xml));
            listed.push_back({path, ProductFixtures::escaped("/opt/" + str(records[i].specifier))});
            installers += ProductFixtures::installer(
                "{" + std::to_string(i) + "}", path,
                ProductFixtures::escaped("/morvane/tellwire/" + str(records[i].specifier)));
        }
        std::string links = root + "/Products/installers.xml";
        writeConfig(links, installers);
        listed.push_back({links, "/opt/installers"});
        writeList(listed);
        scanned.reset(new ScannedConnector);
    }

    std::unique_ptr<ScannedConnector> scanned;
};

TEST_F(ConfigurationRoundTrip, RecordsReadBackWithTheSameFields)
{
    std::vector<TWConnectorAppInfo> records;
    TWConnectorAppInfo r = named("plain-1.0");
    r.windowClassName.assign("plain");  // what a reader fills in when it is missing
    records.push_back(r);

    for (double version : {1.0, 1.5, 3.0, 0.0, 0.1, 1e300, -2.0, HUGE_VAL, std::nan("")}) {
        r = named(("v-" + std::to_string(records.size())).c_str());
        r.windowClassName.assign("v");
        r.tellwireVersion = version;
        records.push_back(r);
    }
    r = named("flags-1.0");
    r.windowClassName.assign("Flags");
    r.allowMultipleInstances = r.isShellTool = r.supportsTVTK = true;
    r.messageAuthentication = r.messageDigest = false;
    r.executableBasename.assign("flags");
    r.executableExtension.assign("sh");
    r.omvDictionary.assign("flags-dict");
    r.developerInstallPath.assign("/home/dev/flags");
    r.bundleIdentifier.assign("org.morvane.flags");
    records.push_back(r);

    const char* hostile[] = {"A & <B> \"C\" 'D' ]]>", " leading", "trailing ", "two  blanks", "tab\there",
                             "new\nline", "cr\rhere", "crlf\r\nhere", "   ", "\t\n", "\x01\x1F", "\xC3\xBCn\xC3\xAF",
                             "&amp; &#32;", "<!-- -->"};
    for (const char* text : hostile) {
        r = named(("h-" + std::to_string(records.size())).c_str());
        r.windowClassName.assign(text);
        r.displayName.assign(text);
        r.bundleIdentifier.assign(text);
        records.push_back(r);
    }
    r = named("odd&<\"'-1.0");
    r.windowClassName.assign("odd");
    records.push_back(r);

    scanWritten(records);
    for (TWConnectorAppInfo expected : records) {
        expected.path.assign(("/opt/" + str(expected.specifier)).c_str());
        TWConnectorAppInfo read;
        ASSERT_TRUE(scanned->record(expected.specifier.text(), read)) << str(expected.specifier);
        EXPECT_TRUE(read == expected) << str(expected.specifier) << ": [" << str(read.windowClassName) << "] ["
                                      << str(read.displayName) << "] " << read.tellwireVersion;
    }
}

TEST_F(ConfigurationRoundTrip, RedirectReadsTheTargetsPath)
{
    TWConnectorAppInfo target = named("target-1.0");
    TWConnectorAppInfo alias = named("alias-1.0");
    alias.redirectTo.assign("target-1.0");
    scanWritten({target, alias});
    TWConnectorAppInfo read;
    ASSERT_TRUE(scanned->record("alias-1.0", read));
    EXPECT_EQ(str(read.redirectTo), "target-1.0");
    EXPECT_EQ(str(read.path), "/opt/target-1.0");
}

TEST_F(ConfigurationRoundTrip, GroupsReadBack)
{
    RecordsConnector writer;
    writer.groups = {"suite/1/app-1.0", "suite/2/app-2.*", "other_suite/10/tool-3.0"};
    LoString xml;
    writer.writeConfigurationXml(xml, LoString("groups"));
    writeConfig(root + "/groups.xml", "");
    TestFolders::writeFile(root + "/groups.xml", str(xml));
    writeList({{root + "/groups.xml", "/opt/none"}});
    ScannedConnector connector;
    EXPECT_EQ(connector.groupEntries(), writer.groups);
}

}  // namespace
