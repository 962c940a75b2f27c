#include "device/CVMCInterface.h"

// Placeholder so the library links until the device interface lands.
namespace orvex {
CVMCInterface::~CVMCInterface() = default;
}
