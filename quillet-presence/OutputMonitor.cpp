#include "quillet-presence/OutputMonitor.h"
