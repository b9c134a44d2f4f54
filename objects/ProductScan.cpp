#include "objects/ProductScan.h"

#include <tinyxml.h>

#include "objects/XmlGuard.h"
#include "objects/platform/InstalledProducts.h"

namespace LxObjects {

namespace {

// The list is asked for with room for this many UTF-16 units, one of them
// kept for the terminating NUL.
const int kListUnits = 1048576;
// Product lists and configuration files nest three levels deep.
const int kMaxNesting = 64;

std::string bytes(const LoString& s)
{
    return std::string(s.text(), size_t(s.length()));
}

LoString loString(const std::string& s)
{
    return LoString(s.c_str(), int(s.size()));
}

// The text of the first child node of the first child element of that name.
std::string childText(const TiXmlElement& parent, const char* name)
{
    const TiXmlElement* child = parent.FirstChildElement(name);
    const TiXmlNode* first = child ? child->FirstChild() : nullptr;
    return first ? first->ValueStr() : std::string();
}

// As TinyXML's LoadFile reads a file: up to the first NUL, with CR LF and
// lone CR made LF.
std::string asLoadFileReads(const std::string& content)
{
    std::string out;
    out.reserve(content.size());
    for (size_t i = 0; i < content.size() && content[i]; ++i) {
        if (content[i] != '\r') {
            out += content[i];
            continue;
        }
        out += '\n';
        if (i + 1 < content.size() && content[i + 1] == '\n')
            ++i;
    }
    return out;
}

}  // namespace

ProductData::ProductData() = default;
ProductData::~ProductData() = default;

const std::vector<ProductEntry>* ProductData::findProduct(const LoString& code) const
{
    auto found = products_.find(bytes(code));
    return found == products_.end() ? nullptr : &found->second.entries;
}

const LoString* ProductData::findValue(const LoString& code, const LoString& key) const
{
    auto product = products_.find(bytes(code));
    if (product == products_.end())
        return nullptr;
    auto at = product->second.index.find(bytes(key));
    return at == product->second.index.end() ? nullptr : &product->second.entries[at->second].value;
}

void ProductData::addProduct(const LoString& code)
{
    if (products_.emplace(bytes(code), Product()).second)
        codes_.push_back(code);
}

void ProductData::addEntry(const LoString& code, const LoString& key, const LoString& value)
{
    addProduct(code);
    Product& product = products_[bytes(code)];
    if (product.index.emplace(bytes(key), product.entries.size()).second)
        product.entries.push_back(ProductEntry{key, value});
}

void ProductData::setLaunchString(const LoString& path, const LoString& launch)
{
    launchStrings_[bytes(path)] = launch;
}

LoString ProductData::getLaunchString(const LoString& path) const
{
    auto found = launchStrings_.find(bytes(path));
    return found == launchStrings_.end() ? LoString() : found->second;
}

bool ProductData::hasLaunchString(const LoString& path) const
{
    return launchStrings_.count(bytes(path)) != 0;
}

void readProductList(ProductData& data, const LoString& listText)
{
    if (!xmlWithinDepth(listText.text(), kMaxNesting))
        return;
    TiXmlDocument document;
    document.Parse(listText.text(), nullptr, TIXML_DEFAULT_ENCODING);
    const TiXmlElement* root = document.RootElement();
    if (!root)
        return;
    for (const TiXmlElement* product = root->FirstChildElement(); product;
         product = product->NextSiblingElement()) {
        std::string path = childText(*product, "KPVConfigPath");
        std::string launch = childText(*product, "LaunchString");
        if (path.empty() || launch.empty())
            continue;
        LoString configPath = loString(path);
        // A file named twice is read once: its entries are already there.
        if (!data.hasLaunchString(configPath))
            data.configurationPaths.push_back(configPath);
        data.setLaunchString(configPath, loString(launch));
    }
}

void readProductConfiguration(ProductData& data, const LoString& path)
{
    std::string content;
    if (Platform::readConfigurationFile(bytes(path), content))
        readProductConfigurationText(data, std::move(content));
}

void readProductConfigurationText(ProductData& data, std::string content)
{
    content = asLoadFileReads(content);
    if (!xmlWithinDepth(content.c_str(), kMaxNesting))
        return;
    TiXmlDocument document;
    document.Parse(content.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    const TiXmlElement* root = document.RootElement();
    if (document.Error() || !root || root->ValueStr() != "Configuration")
        return;
    for (const TiXmlElement* product = root->FirstChildElement(); product;
         product = product->NextSiblingElement()) {
        const char* code = product->Attribute("morvaneCode");
        if (!code)
            continue;
        LoString productCode(code);
        data.addProduct(productCode);
        for (const TiXmlElement* item = product->FirstChildElement(); item; item = item->NextSiblingElement()) {
            const char* key = item->Attribute("key");
            const TiXmlNode* first = item->FirstChild();
            if (key && first)
                data.addEntry(productCode, LoString(key), loString(first->ValueStr()));
        }
    }
}

void scanInstalledProducts(ProductData& data)
{
    try {
        std::vector<char16_t> buffer(size_t(kListUnits), 0);
        uint32_t size = kListUnits - 1;
        Platform::KRNGetInstalledProductsList(true, buffer.data(), &size);
        // The text as long as it is: the last unit is always NUL.
        int length = 0;
        while (length < kListUnits - 1 && buffer[size_t(length)])
            ++length;
        readProductList(data, LoString(buffer.data(), length));
        for (const LoString& path : data.configurationPaths)
            readProductConfiguration(data, path);
    } catch (...) {
        // What was read so far stays.
    }
    data.configurationPaths.clear();
}

LoString getProductValue(const ProductData& data, const LoString& code, const LoString& key)
{
    const LoString* value = data.findValue(code, key);
    return value ? *value : LoString();
}

std::vector<ProductEntry> listProductEntries(const ProductData& data, const LoString& code)
{
    const std::vector<ProductEntry>* entries = data.findProduct(code);
    return entries ? *entries : std::vector<ProductEntry>();
}

int getConfigValue(const ProductData& data, const LoString& code, const LoString& key, LoString& out)
{
    LoString value = getProductValue(data, code, key);
    if (!value.isEmpty())
        out = value;
    return 0;
}

}  // namespace LxObjects
