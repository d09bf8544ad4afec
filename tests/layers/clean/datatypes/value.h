// Fixture: a value layer header.
#pragma once
#include "runtime/base.h"
