#include "platform/fake/FakeAppIdentity.h"
