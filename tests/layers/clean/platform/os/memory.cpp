// Fixture: the platform throws the runtime's codes.
#include "platform/os/memory.h"
#include "runtime/throw.h"
