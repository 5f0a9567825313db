#include "platform/linux/atspi/AtspiAccessibility.h"
