#include "platform/fake/FakeAccessibility.h"
