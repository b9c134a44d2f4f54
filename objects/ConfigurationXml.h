// The configuration XML: one application's record, or the group entries,
// in the format that the installed-product scan reads back. Values are
// escaped so that TinyXML returns exactly the bytes written: markup
// characters as entities, and white space that its reader would drop or
// fold as character references.
#pragma once
#include "objects/Connector.h"
#include "objects/LoString.h"
#include "objects/LoVector.h"

namespace LxObjects {

// The keys come from the connector's key strings.
LoString configurationXmlForRecord(const TellwireConnector& keys, const TWConnectorAppInfo& record);
// An empty list writes the built-in default entries instead.
LoString configurationXmlForGroups(const TellwireConnector& keys, const LoVector<LoString>& entries);

}  // namespace LxObjects
