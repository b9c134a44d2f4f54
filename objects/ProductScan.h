// The scan of the installed products: the product list names each
// product's configuration file and launch string, and the configuration
// files give, per product code, entries of key and value. The connector
// (PCDConnector) runs the scan once and builds its table from the result.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include "objects/LoHeap.h"
#include "objects/LoString.h"

namespace LxObjects {

struct ProductEntry {
    LoString key;
    LoString value;
};

// What the scan found. Products and their entries are kept in the order
// they were first met, so a walk over them is the same every time.
class ProductData : public LoHeap {
public:
    ProductData();
    ~ProductData() override;

    int productCount() const { return int(codes_.size()); }
    const LoString& productCode(int index) const { return codes_[size_t(index)]; }
    // Null for an absent product.
    const std::vector<ProductEntry>* findProduct(const LoString& code) const;
    // Null when the product or the key is absent.
    const LoString* findValue(const LoString& code, const LoString& key) const;
    // Creates the product when it is new.
    void addProduct(const LoString& code);
    // The first value of a key stays.
    void addEntry(const LoString& code, const LoString& key, const LoString& value);

    // The launch string the list gives for a configuration file; a later
    // one replaces an earlier. Empty when none.
    void setLaunchString(const LoString& path, const LoString& launch);
    LoString getLaunchString(const LoString& path) const;
    bool hasLaunchString(const LoString& path) const;

    // The configuration files still to read, in list order.
    std::vector<LoString> configurationPaths;

private:
    struct Product {
        std::vector<ProductEntry> entries;
        std::unordered_map<std::string, size_t> index;
    };
    std::vector<LoString> codes_;
    std::unordered_map<std::string, Product> products_;
    std::unordered_map<std::string, LoString> launchStrings_;
};

// Reads the installed-products list and every configuration file it names.
// Nothing is reported: what cannot be read is left out.
void scanInstalledProducts(ProductData& data);
// The two steps of the scan: the list's text, then one configuration file.
void readProductList(ProductData& data, const LoString& listText);
void readProductConfiguration(ProductData& data, const LoString& path);
// The second step on a configuration file's bytes.
void readProductConfigurationText(ProductData& data, std::string content);

// Empty when the product or the key is absent.
LoString getProductValue(const ProductData& data, const LoString& code, const LoString& key);
// Every entry of a product; none for an absent product.
std::vector<ProductEntry> listProductEntries(const ProductData& data, const LoString& code);
// out becomes the value when that is not empty; the result is always 0.
int getConfigValue(const ProductData& data, const LoString& code, const LoString& key, LoString& out);

}  // namespace LxObjects
