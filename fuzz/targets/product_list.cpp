// The installed-products list: every product's configuration path and
// launch string.
#include "fuzz/FuzzSupport.h"
#include "objects/LoString.h"
#include "objects/ProductScan.h"

using namespace LxObjects;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ProductData products;
    readProductList(products, LoString(reinterpret_cast<const char*>(data), int(size)));
    for (const LoString& path : products.configurationPaths)
        products.getLaunchString(path);
    return 0;
}
