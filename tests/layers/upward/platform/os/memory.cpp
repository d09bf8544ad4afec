// Fixture: the platform may throw the runtime's codes but use nothing else of it.
#include "platform/os/memory.h"
#include "runtime/throw.h"
#include "runtime/base.h"
