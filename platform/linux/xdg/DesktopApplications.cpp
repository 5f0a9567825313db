#include "platform/linux/xdg/DesktopApplications.h"
