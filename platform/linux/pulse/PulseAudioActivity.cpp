#include "platform/linux/pulse/PulseAudioActivity.h"
