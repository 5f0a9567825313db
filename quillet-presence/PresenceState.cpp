#include "quillet-presence/PresenceState.h"
