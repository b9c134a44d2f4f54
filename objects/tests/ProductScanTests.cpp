#include "objects/ProductScan.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

#include "objects/XmlGuard.h"
#include "objects/platform/InstalledProducts.h"
#include "objects/tests/ProductFixtures.h"

using LxObjects::LoString;
using LxObjects::ProductData;
using ProductFixtures::configuration;
using ProductFixtures::data;
using ProductFixtures::product;
using ProductFixtures::str;

namespace {

// ---- the installed-products list -------------------------------------------------

class InstalledProductsList : public ProductFixtures::ProductFolders {
protected:
    // The list as the library hands it out; false when it gives none.
    bool ask(std::u16string& text, uint32_t units = 4096)
    {
        std::vector<char16_t> buffer(units + 1, u'\xAAAA');
        uint32_t size = units;
        bool ok = LxObjects::Platform::KRNGetInstalledProductsList(true, buffer.data(), &size);
        text.assign(buffer.data(), ok ? size : 0);
        if (ok)
            EXPECT_EQ(buffer[size], u'\0');
        else
            EXPECT_EQ(buffer[0], u'\xAAAA') << "a failed call leaves the buffer alone";
        return ok;
    }
};

TEST_F(InstalledProductsList, PathFromTheEnvironmentOrTheSystemFile)
{
    EXPECT_EQ(LxObjects::Platform::installedProductsPath(), listPath);
    unsetenv("MORVANE_INSTALLED_PRODUCTS");
    EXPECT_EQ(LxObjects::Platform::installedProductsPath(), "/etc/morvane/installed-products.xml");
}

TEST_F(InstalledProductsList, MissingFileIsAnEmptyList)
{
    std::u16string text;
    EXPECT_TRUE(ask(text));
    EXPECT_TRUE(text.empty());
}

TEST_F(InstalledProductsList, Utf8BecomesUtf16)
{
    TestFolders::writeFile(listPath, "\xEF\xBB\xBF<p>Caf\xC3\xA9 \xF0\x9D\x84\x9E \xFF!</p>");
    std::u16string text;
    ASSERT_TRUE(ask(text));
    // The mark goes; a byte that is no UTF-8 becomes U+FFFD.
    EXPECT_EQ(text, u"<p>Caf\u00E9 \U0001D11E \uFFFD!</p>");
}

TEST_F(InstalledProductsList, TextThatDoesNotFitIsRefused)
{
    TestFolders::writeFile(listPath, std::string(100, 'x'));
    std::u16string text;
    EXPECT_FALSE(ask(text, 100));  // no room for the NUL
    EXPECT_TRUE(ask(text, 101));
    EXPECT_EQ(text.size(), 100u);
}

TEST_F(InstalledProductsList, OnlyRegularFilesAreRead)
{
    std::u16string text;
    mkdir(listPath.c_str(), 0700);
    EXPECT_FALSE(ask(text));
    rmdir(listPath.c_str());
    // A FIFO without a writer would block an open that waits.
    ASSERT_EQ(mkfifo(listPath.c_str(), 0600), 0);
    EXPECT_FALSE(ask(text));
}

// ---- the nesting check --------------------------------------------------------------

std::string nested(int depth, const std::string& inner = "")
{
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<a>";
    xml += inner;
    for (int i = 0; i < depth; ++i)
        xml += "</a>";
    return xml;
}

std::string repeated(const std::string& part, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

TEST(XmlGuard, PlainDocumentsPass)
{
    const char* passing[] = {
        "",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration>\n\t<Other morvaneCode=\"/x\">\n"
        "\t\t<Data key=\"Path\">/opt/A &amp; B/app.exe</Data>\n\t</Other>\n</Configuration>\n",
        "\xEF\xBB\xBF<r a='1' b = \"x > y\"><!-- </r> --><![CDATA[</r>]]><?pi </r>?><e/></r>",
        "<!DOCTYPE r><r>text \xC3\xA9 <x:y z.w=\"\"/></r>",
        "<r><open>cut short",  // TinyXML stops at the end as well
    };
    for (const char* xml : passing)
        EXPECT_TRUE(LxObjects::xmlWithinDepth(xml, 64)) << xml;
    EXPECT_TRUE(LxObjects::xmlWithinDepth(nested(64).c_str(), 64));
    EXPECT_FALSE(LxObjects::xmlWithinDepth(nested(65).c_str(), 64));
    // Siblings do not add up.
    EXPECT_TRUE(LxObjects::xmlWithinDepth(("<r>" + repeated("<a x=\"1\"/><b></b>", 5000) + "</r>").c_str(), 64));
}

TEST(XmlGuard, WhatCouldHideNestingIsRefused)
{
    std::string deep = nested(200);
    std::string cases[] = {
        // Close tags that TinyXML does not see as such must not count.
        "<!-- " + repeated("</a>", 300) + " -->" + deep,
        "<r><![CDATA[" + repeated("</a>", 300) + "]]>" + nested(200) + "</r>",
        "<r x=\"" + repeated("</a>", 300) + "\">" + deep + "</r>",
        // TinyXML reads a quoted version over a '>'.
        "<?xml version='1.0\"?>" + repeated("</a>", 300) + "'?>" + deep,
        "<?xml a=\"b\" version=\"" + repeated("</a>", 300) + "\"?>" + deep,
        // A malformed character would carry TinyXML over a quote.
        "<r x=\"\xF0\">" + deep + "</r>",
        "<r x=1>" + deep + "</r>",
        "</a></a>" + deep,
        "text" + deep,
    };
    for (const std::string& xml : cases)
        EXPECT_FALSE(LxObjects::xmlWithinDepth(xml.c_str(), 64)) << xml.substr(0, 60);
}

// ---- the scan ---------------------------------------------------------------------------

class ProductScan : public ProductFixtures::ProductFolders {
protected:
    void scan() { LxObjects::scanInstalledProducts(products); }

    std::string value(const std::string& code, const std::string& key)
    {
        return str(LxObjects::getProductValue(products, LoString(code.c_str()), LoString(key.c_str())));
    }

    bool has(const std::string& code) { return products.findProduct(LoString(code.c_str())) != nullptr; }

    std::string config(const char* name) { return root + "/Products/" + name; }

    ProductData products;
};

TEST_F(ProductScan, ListedConfigurationsAreRead)
{
    writeConfig(config("a.xml"), product("/morvane/tellwire/a-1.0", data("Specifier", "a-1.0") + data("Path", "/x")));
    writeConfig(config("b.xml"), product("{B}", data("KPVConfigPath", config("b.xml"))));
    writeList({{config("a.xml"), "/opt/a"}, {config("b.xml"), "/opt/b"}});
    scan();
    EXPECT_EQ(value("/morvane/tellwire/a-1.0", "Specifier"), "a-1.0");
    EXPECT_EQ(value("/morvane/tellwire/a-1.0", "Path"), "/x");
    EXPECT_EQ(value("{B}", "KPVConfigPath"), config("b.xml"));
    EXPECT_EQ(str(products.getLaunchString(LoString(config("b.xml").c_str()))), "/opt/b");
    EXPECT_TRUE(products.configurationPaths.empty());

    std::vector<LxObjects::ProductEntry> entries = LxObjects::listProductEntries(products, LoString("/morvane/tellwire/a-1.0"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(str(entries[0].key), "Specifier");
    EXPECT_EQ(str(entries[1].key), "Path");
    EXPECT_TRUE(LxObjects::listProductEntries(products, LoString("{none}")).empty());
}

TEST_F(ProductScan, ProductWithoutLaunchStringIsNotRead)
{
    writeConfig(config("a.xml"), product("/morvane/tellwire/a-1.0", data("Path", "/x")));
    writeList({{config("a.xml"), ""}});
    scan();
    EXPECT_FALSE(has("/morvane/tellwire/a-1.0"));
}

TEST_F(ProductScan, FirstValueReadStays)
{
    writeConfig(config("first.xml"), product("/morvane/tellwire/a-1.0", data("Path", "/first") + data("Path", "/again")));
    writeConfig(config("second.xml"), product("/morvane/tellwire/a-1.0", data("Path", "/second") + data("DisplayName", "A")));
    writeList({{config("first.xml"), "/opt/a"}, {config("second.xml"), "/opt/a"}});
    scan();
    EXPECT_EQ(value("/morvane/tellwire/a-1.0", "Path"), "/first");
    EXPECT_EQ(value("/morvane/tellwire/a-1.0", "DisplayName"), "A");
}

TEST_F(ProductScan, ElementsWithoutTheirAttributesOrTextsAreSkipped)
{
    writeConfig(config("a.xml"), product("/morvane/tellwire/empty", "") +
                                     "  <Other><Data key=\"Path\">/no/code</Data></Other>\n" +
                                     product("/morvane/tellwire/a", "    <Data>no key</Data>\n"
                                                                    "    <Data key=\"Empty\"></Data>\n"
                                                                    "    <Data key=\"Blank\">   </Data>\n" +
                                                                        data("Kept", "yes")));
    writeConfig(config("other-root.xml"), "");
    TestFolders::writeFile(config("other-root.xml"), "<configuration><Other morvaneCode=\"/morvane/tellwire/b\">" +
                                                         data("Path", "/b") + "</Other></configuration>");
    writeList({{config("a.xml"), "/opt/a"}, {config("other-root.xml"), "/opt/b"}});
    scan();
    EXPECT_TRUE(has("/morvane/tellwire/empty"));
    EXPECT_TRUE(LxObjects::listProductEntries(products, LoString("/morvane/tellwire/empty")).empty());
    ASSERT_EQ(LxObjects::listProductEntries(products, LoString("/morvane/tellwire/a")).size(), 1u);
    EXPECT_EQ(value("/morvane/tellwire/a", "Kept"), "yes");
    EXPECT_FALSE(has("/morvane/tellwire/b"));  // the root's name differs in case only
    EXPECT_EQ(products.productCount(), 2);
}

TEST_F(ProductScan, ListLongerThanSixtyFiveThousandUnits)
{
    writeConfig(config("late.xml"), product("/morvane/tellwire/late", data("Path", "/late")));
    // The product comes after unit 65,536 of the text.
    std::string padding = "<!-- " + std::string(70000, '.') + " -->\n";
    std::string list = ProductFixtures::productList({{config("late.xml"), "/opt/late"}});
    list.insert(list.find("<Product>"), padding);
    TestFolders::writeFile(listPath, list);
    scan();
    EXPECT_EQ(value("/morvane/tellwire/late", "Path"), "/late");
}

TEST_F(ProductScan, PathsWithBlanksAndQuotes)
{
    std::string path = root + "/Program Files/Vandrel \"Pro\" & Co/Config/app.xml";
    writeConfig(path, product("/morvane/tellwire/app", data("Path", "/opt/Vandrel &quot;Pro&quot; &amp; Co/app")));
    writeList({{root + "/Program Files/Vandrel &quot;Pro&quot; &amp; Co/Config/app.xml", "/opt/launch me"}});
    scan();
    EXPECT_EQ(value("/morvane/tellwire/app", "Path"), "/opt/Vandrel \"Pro\" & Co/app");
    EXPECT_EQ(str(products.getLaunchString(LoString(path.c_str()))), "/opt/launch me");
}

TEST_F(ProductScan, HostileFilesGiveNothingAndSpoilNothing)
{
    std::string good = config("good.xml");
    writeConfig(good, product("/morvane/tellwire/good", data("Path", "/good")));
    // Deep enough to exhaust TinyXML's stack if it were parsed.
    std::string deep = config("deep.xml");
    TestFolders::writeFile(deep, "<Configuration>" + product("/morvane/tellwire/deep", data("Path", "/deep")) +
                                     nested(120000) + "</Configuration>");
    std::string huge = config("huge.xml");
    TestFolders::writeFile(huge, configuration(product("/morvane/tellwire/huge", data("Path", "/huge")) + "<!-- " +
                                               std::string(LxObjects::Platform::kMaxConfigurationBytes, '.') +
                                               " -->"));
    std::string fifo = config("fifo.xml");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string broken = config("broken.xml");
    TestFolders::writeFile(broken, configuration(product("/morvane/tellwire/broken", data("Path", "/broken"))) + "</x>");
    writeList({{deep, "/d"}, {huge, "/h"}, {fifo, "/f"}, {broken, "/b"}, {root + "/missing.xml", "/m"},
               {root, "/folder"}, {good, "/g"}});
    // The FIFO, with no writer, would block a reader for good; it and the huge
    // file are refused before a byte is read.
    for (const std::string& refused : {fifo, huge}) {
        std::string content = "untouched";
        EXPECT_FALSE(LxObjects::Platform::readConfigurationFile(refused, content)) << refused;
        EXPECT_EQ(content, "untouched") << refused;
    }
    scan();
    EXPECT_EQ(value("/morvane/tellwire/good", "Path"), "/good");
    for (const char* code : {"/morvane/tellwire/deep", "/morvane/tellwire/huge", "/morvane/tellwire/broken"})
        EXPECT_FALSE(has(code)) << code;
}

TEST_F(ProductScan, DeeplyNestedListGivesNoProducts)
{
    writeConfig(config("a.xml"), product("/morvane/tellwire/a", data("Path", "/a")));
    std::string list = ProductFixtures::productList({{config("a.xml"), "/opt/a"}});
    list.insert(list.find("</InstalledProducts>"), nested(140000));
    TestFolders::writeFile(listPath, list);
    scan();
    EXPECT_EQ(products.productCount(), 0);
}

TEST_F(ProductScan, UnreadableListGivesNoProducts)
{
    for (const char* list : {"", "not xml at all", "<InstalledProducts>", "\xFF\xFE<\0x\0"}) {
        TestFolders::writeFile(listPath, list);
        ProductData none;
        LxObjects::scanInstalledProducts(none);
        EXPECT_EQ(none.productCount(), 0) << list;
    }
}

TEST_F(ProductScan, FileListedTwiceIsReadOnceWithTheLaterLaunchString)
{
    writeConfig(config("a.xml"), product("/morvane/tellwire/a", data("Path", "/a")));
    writeList({{config("a.xml"), "/opt/first"}, {config("a.xml"), "/opt/second"}});
    scan();
    EXPECT_EQ(value("/morvane/tellwire/a", "Path"), "/a");
    EXPECT_EQ(str(products.getLaunchString(LoString(config("a.xml").c_str()))), "/opt/second");
}

TEST(ProductValues, ConfigValueKeepsTheOutForEmptyOrAbsentValues)
{
    ProductData products;
    products.addEntry(LoString("/c"), LoString("Empty"), LoString(""));
    products.addEntry(LoString("/c"), LoString("Full"), LoString("v"));
    products.addEntry(LoString("/c"), LoString("Full"), LoString("later"));
    LoString out("kept");
    EXPECT_EQ(LxObjects::getConfigValue(products, LoString("/c"), LoString("Empty"), out), 0);
    EXPECT_EQ(str(out), "kept");
    EXPECT_EQ(LxObjects::getConfigValue(products, LoString("/none"), LoString("Full"), out), 0);
    EXPECT_EQ(str(out), "kept");
    EXPECT_EQ(LxObjects::getConfigValue(products, LoString("/c"), LoString("Full"), out), 0);
    EXPECT_EQ(str(out), "v");
}

}  // namespace
