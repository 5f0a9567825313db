#include "platform/linux/identity/ProcessAppIdentity.h"
