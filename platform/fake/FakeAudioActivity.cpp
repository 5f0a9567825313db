#include "platform/fake/FakeAudioActivity.h"
