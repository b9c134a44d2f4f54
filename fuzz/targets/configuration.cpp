// A product's configuration XML: products by code, their keys and values.
#include "fuzz/FuzzSupport.h"
#include "objects/LoString.h"
#include "objects/ProductScan.h"

using namespace LxObjects;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ProductData products;
    readProductConfigurationText(products, std::string(reinterpret_cast<const char*>(data), size));
    for (int i = 0; i < products.productCount(); ++i)
        listProductEntries(products, products.productCode(i));
    return 0;
}
