#include "quillet-presence/AppMonitor.h"
