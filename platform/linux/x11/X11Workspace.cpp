#include "platform/linux/x11/X11Workspace.h"
