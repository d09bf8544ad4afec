// Fixture: a platform header.
#pragma once
