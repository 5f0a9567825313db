#include "quillet-presence/PresenceProgram.h"
