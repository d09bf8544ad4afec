// Fixture: a runtime header.
#pragma once
