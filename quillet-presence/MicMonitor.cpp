#include "quillet-presence/MicMonitor.h"
