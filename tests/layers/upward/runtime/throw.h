// Fixture: the throw codes, the floor under every layer.
#pragma once
