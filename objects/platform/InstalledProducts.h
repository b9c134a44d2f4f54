// The list of installed products, in place of the maker's installed-products
// library: an XML file in UTF-8 named by MORVANE_INSTALLED_PRODUCTS, else
// /etc/morvane/installed-products.xml. The library hands the list out as
// UTF-16 text, and so does this layer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace LxObjects::Platform {

// The file that holds the list.
std::string installedProductsPath();

// Writes the list into buffer as UTF-16 text ended by a NUL unit; *size is
// the number of units the buffer may take, the NUL included, and becomes
// the number of text units written. A missing file is an empty list. False,
// with the buffer untouched, when the file cannot be read or its text does
// not fit. flag is accepted as the library has it and plays no part here.
bool KRNGetInstalledProductsList(bool flag, char16_t* buffer, uint32_t* size);

// A product's configuration file is small; one larger than this is refused.
const size_t kMaxConfigurationBytes = 1 << 20;

// The bytes of a product's configuration file; false when it is missing,
// not a regular file, larger than kMaxConfigurationBytes or unreadable.
bool readConfigurationFile(const std::string& path, std::string& content);

}  // namespace LxObjects::Platform
