#include "objects/Tellwire.h"

namespace LxObjects {

Tellwire::~Tellwire() = default;

}  // namespace LxObjects
